// The two process-wide debug settings, read from "Software\vorlane" under the
// machine-wide root: the log level mask ("LogDebug", read once when the library
// is loaded) and the application trace mask ("EnableAppDebug", read on the first
// trace call that needs it).
#pragma once

#include <atomic>

#include "utils/wintypes.h"

namespace utils::diag {

namespace detail {
inline constexpr DWORD kNotRead = 0xFFFFFFFF;
// Process-wide settings, zero (and "not read") at load. Inline accessors below
// keep a disabled trace call down to a load and a bit test.
extern std::atomic<DWORD> gLogLevelMask;
extern std::atomic<DWORD> gAppDebugMask;
DWORD readAppDebugMask();
}  // namespace detail

// The load step: reads the log level mask. Silent; never fails.
void processAttach();

// The log level mask: 0 until processAttach has read it.
inline DWORD logLevelMask() { return detail::gLogLevelMask.load(std::memory_order_relaxed); }

// The application trace mask (at most 0xFFFF). The first call reads it and
// writes the one-time "AppDebug=" line; concurrent first callers wait for it.
inline DWORD GetAppDebugMask() {
  const DWORD mask = detail::gAppDebugMask.load(std::memory_order_acquire);
  return mask != detail::kNotRead ? mask : detail::readAppDebugMask();
}

// Put a mask in place of the stored setting for the rest of the process, as a
// tool's command-line option does (btutil --trace); the registry is not touched
// and, for the application trace mask, not read.
void setLogLevelMask(DWORD mask);
void setAppDebugMask(DWORD mask);

// Returns both settings to their state before load, so a test can load again.
void resetDebugSettings();

}  // namespace utils::diag
