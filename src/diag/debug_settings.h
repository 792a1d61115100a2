// The two process-wide debug settings, read from "Software\vorlane" under the
// machine-wide root: the log level mask ("LogDebug", read once when the library
// is loaded) and the application trace mask ("EnableAppDebug", read on the first
// trace call that needs it).
#pragma once

#include "utils/wintypes.h"

namespace utils::diag {

// The load step: reads the log level mask. Silent; never fails.
void processAttach();

// The log level mask: 0 until processAttach has read it.
DWORD logLevelMask();

// The application trace mask (at most 0xFFFF). The first call reads it and
// writes the one-time "AppDebug=" line; concurrent first callers wait for it.
DWORD GetAppDebugMask();

// Returns both settings to their state before load, so a test can load again.
void resetDebugSettings();

}  // namespace utils::diag
