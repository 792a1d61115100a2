// The start-screen and taskbar checks' process-wide state.
#pragma once

namespace utils::ui {

// Forgets the cached Windows version answer, as a fresh process has it (tests).
void resetWindowsVersionCache();

}  // namespace utils::ui
