#include "diag/debug_settings.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "port/platform.h"
#include "utils/primitives.h"

namespace utils::diag {

namespace detail {
std::atomic<DWORD> gLogLevelMask{0};
std::atomic<DWORD> gAppDebugMask{kNotRead};
}  // namespace detail

namespace {

using detail::gAppDebugMask;
using detail::gLogLevelMask;
using detail::kNotRead;

constexpr wchar_t kSettingsKey[] = L"Software\\vorlane";

std::mutex gAppDebugReadLock;  // serialises the first read of the trace mask

// Reads up to 4 bytes of a machine-wide value into bytes (preset by the caller).
// False when the key or value is absent, unreadable or longer than 4 bytes.
bool readFourBytes(const wchar_t* valueName, BYTE (&bytes)[4]) {
  port::RegistryPort& registry = *port::platform().registry;
  port::ScopedKey key(registry);
  if (registry.openKey(HKEY_LOCAL_MACHINE, kSettingsKey, KEY_READ, key.out()) != ERROR_SUCCESS) return false;
  DWORD size = sizeof bytes;
  return registry.queryValue(key.get(), valueName, nullptr, bytes, &size) == ERROR_SUCCESS;
}

// As readFourBytes; a store that fails in any other way (an exception from a
// failed allocation) counts as a value that is absent.
bool readFourBytesOrNothing(const wchar_t* valueName, BYTE (&bytes)[4]) {
  try {
    return readFourBytes(valueName, bytes);
  } catch (...) {
    return false;
  }
}

}  // namespace

void processAttach() {
  BYTE bytes[4] = {0, 0, 0, 0};
  const DWORD mask = readFourBytesOrNothing(L"LogDebug", bytes) ? LEtoHost32(bytes) : 0;
  gLogLevelMask.store(mask, std::memory_order_relaxed);
}

DWORD detail::readAppDebugMask() {
  std::lock_guard lock(gAppDebugReadLock);
  DWORD mask = gAppDebugMask.load(std::memory_order_acquire);
  if (mask != kNotRead) return mask;

  BYTE bytes[4] = {0, 0, 0, 0};
  mask = readFourBytesOrNothing(L"EnableAppDebug", bytes) ? static_cast<DWORD>(bytes[0] + 256 * bytes[1]) : 0;

  char line[128];
  std::snprintf(line, sizeof line, "AppDebug=%d\n", static_cast<int>(mask));
  // An output that fails loses the line; the mask is settled all the same.
  try {
    port::platform().debugOutput->writeNarrow(line);
  } catch (...) {
  }

  gAppDebugMask.store(mask, std::memory_order_release);
  return mask;
}

void setLogLevelMask(DWORD mask) { gLogLevelMask.store(mask, std::memory_order_relaxed); }

void setAppDebugMask(DWORD mask) {
  std::lock_guard lock(gAppDebugReadLock);
  gAppDebugMask.store(mask & 0xFFFF, std::memory_order_release);
}

void resetDebugSettings() {
  gLogLevelMask.store(0, std::memory_order_relaxed);
  gAppDebugMask.store(kNotRead, std::memory_order_release);
}

}  // namespace utils::diag
