// Opening the suite's bus driver and the first local radio.
#pragma once

#include <utility>

#include "utils/wintypes.h"

namespace utils::radio {

// Opens the first present bus interface for reading. Returns 0 and the handle,
// or the error of the failed step with *handle null (lookup failures) or
// INVALID_HANDLE_VALUE (the open failed). Writes no trace lines.
DWORD openBus(HANDLE* handle);

// Opens the bus driver with its trace lines. TRUE when it opened; *handle
// receives the open's result whenever an interface was found and is left alone
// otherwise. *error (may be null) receives the failed step's error.
BOOL EnumBusDevice(HANDLE* handle, DWORD* error = nullptr);

// The first radio, as EnumerateFirstBthRadioHandle, with trace lines.
HANDLE FindLocalRadio(BLUETOOTH_RADIO_INFO* info);

// The first radio without trace lines. *infoError (may be null) receives the
// result of the information query (ERROR_NOT_READY when info is null).
HANDLE findFirstRadio(BLUETOOTH_RADIO_INFO* info, DWORD* infoError = nullptr);

// Closes a bus or radio handle obtained through the ports; null and
// INVALID_HANDLE_VALUE are ignored.
void closeBusHandle(HANDLE handle);
void closeRadioHandle(HANDLE handle);

// Owns a bus or a radio handle until it goes out of scope or release() hands it on.
template <void (*Close)(HANDLE)>
class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
  ~ScopedHandle() { Close(handle_); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  HANDLE* out() { return &handle_; }
  HANDLE get() const { return handle_; }
  HANDLE release() { return std::exchange(handle_, nullptr); }

 private:
  HANDLE handle_ = nullptr;
};
using ScopedBus = ScopedHandle<closeBusHandle>;
using ScopedRadio = ScopedHandle<closeRadioHandle>;

}  // namespace utils::radio
