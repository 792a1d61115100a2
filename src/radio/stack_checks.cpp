// Whether the Bluetooth stack runs (an RFCOMM socket can be bound), whether the
// radio driver is ready, and whether a radio device is present and described.
#include "radio/stack_checks.h"

#include <atomic>
#include <cstdint>
#include <vector>

#include "diag/export_guard.h"
#include "port/platform.h"
#include "radio/bus_device.h"
#include "utils/radio.h"
#include "utils/trace.h"

namespace utils::radio {
namespace {

constexpr int kReadyAttempts = 50;
constexpr DWORD kReadyPauseMs = 500;
constexpr DWORD kRemovedAndReady = 2;
// A device description is read into 128 bytes: 64 UTF-16 units with the terminator.
constexpr DWORD kDescriptionUnits = 64;

// Process-wide: written by SetDeviceRemoveFlag, read by BtDriverIsReady, possibly
// on other threads.
std::atomic<DWORD> gRemoveFlag{0};

// One socket probe with the trace line of a failed step. True when bound.
bool probeWithTrace(port::RfcommPort& rfcomm) {
  port::RfcommProbe probe;
  const DWORD error = rfcomm.probe(&probe);
  if (error == 0) return true;
  if (probe.failedStep == port::RfcommProbeStep::kSocket) {
    VRLN_BT_ATLTRACE_W(L"socket() call failed. WSAGetLastError = [%d]\n", error);
  } else {
    VRLN_BT_ATLTRACE_W(L"bind() call failed socket=[0x%x], WSAGetLastError=[%d]\n", static_cast<unsigned>(probe.socket),
                       error);
  }
  return false;
}

void closeInterface(HANDLE handle) {
  if (handle != INVALID_HANDLE_VALUE && handle != nullptr) port::platform().radio->close(handle);
}

// Balances one successful startup of the socket layer with its cleanup.
class SocketLayer {
 public:
  explicit SocketLayer(port::RfcommPort* rfcomm) : rfcomm_(rfcomm) {
    if (rfcomm_ != nullptr && rfcomm_->startup() != 0) rfcomm_ = nullptr;
  }
  ~SocketLayer() {
    if (rfcomm_ != nullptr) rfcomm_->cleanup();
  }
  SocketLayer(const SocketLayer&) = delete;
  SocketLayer& operator=(const SocketLayer&) = delete;
  // The started layer, or null when it could not be started.
  port::RfcommPort* get() const { return rfcomm_; }

 private:
  port::RfcommPort* rfcomm_;
};

using ScopedInterface = ScopedHandle<closeInterface>;

}  // namespace

HANDLE OpenRadioInterface() {
  port::RadioPort* radioPort = port::platform().radio;
  if (radioPort == nullptr) return INVALID_HANDLE_VALUE;
  std::vector<port::RadioInterface> interfaces;
  if (radioPort->listRadioInterfaces(&interfaces) != 0) return INVALID_HANDLE_VALUE;
  ScopedInterface handle;
  for (const auto& radioInterface : interfaces) {
    closeInterface(handle.release());
    if (radioInterface.detailError != 0) continue;
    HANDLE opened = INVALID_HANDLE_VALUE;
    if (radioPort->openRadioInterface(radioInterface.path.c_str(), &opened) == 0) *handle.out() = opened;
  }
  HANDLE last = handle.release();
  return last != nullptr ? last : INVALID_HANDLE_VALUE;
}

void resetRemoveFlag() { gRemoveFlag.store(0); }

}  // namespace utils::radio

UTILS_API void SetDeviceRemoveFlag(DWORD flag) { utils::radio::gRemoveFlag.store(flag); }

UTILS_API DWORD CheckBtStackIsStart(void) {
  return utils::diag::guardExport("CheckBtStackIsStart", DWORD{0}, []() -> DWORD {
    const utils::radio::SocketLayer sockets(utils::port::platform().rfcomm);
    if (sockets.get() == nullptr) return 0;
    utils::port::RfcommProbe probe;
    return sockets.get()->probe(&probe) == 0 ? 1 : 0;
  });
}

UTILS_API DWORD BtDriverIsReady(void) {
  return utils::diag::guardExport("BtDriverIsReady", DWORD{0}, []() -> DWORD {
    using namespace utils::radio;
    const auto& platform = utils::port::platform();
    const ScopedInterface radio(OpenRadioInterface());
    if (radio.get() == INVALID_HANDLE_VALUE) return 0;
    const SocketLayer sockets(platform.rfcomm);
    if (sockets.get() == nullptr) return 0;
    DWORD outcome = 0;
    for (int attempt = 0; attempt < kReadyAttempts; ++attempt) {
      if (gRemoveFlag.load() == kRemovedAndReady) {
        outcome = 1;
        continue;
      }
      if (probeWithTrace(*sockets.get())) {
        outcome = 1;
        break;
      }
      outcome = 0;
      platform.clock->sleepMs(kReadyPauseMs);
    }
    return outcome;
  });
}

UTILS_API DWORD DeviceIsVorlane(void) {
  return utils::diag::guardExport("DeviceIsVorlane", DWORD{0}, []() -> DWORD {
    utils::port::RadioPort* radioPort = utils::port::platform().radio;
    if (radioPort == nullptr) return 0;
    std::vector<utils::port::RadioDevice> devices;
    if (radioPort->listRadioDevices(utils::radio::kDescriptionUnits, &devices) != 0) return 0;
    for (const auto& device : devices) {
      if (device.descriptionError == 0) return 1;
    }
    return 0;
  });
}
