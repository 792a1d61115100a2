// The dial's window: each dial progress message moves the context on by the
// connection state and error it carries.
#include "dialup/dun_context.h"

namespace utils::dialup {

bool DunWindowProc::onDeviceChange(DWORD /*event*/, const port::DeviceBroadcast* /*record*/) { return false; }

void DunWindowProc::onMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  DunContext& ctx = dunContext();
  const UINT dialEvent = ctx.dialEventMessage.load();
  if (dialEvent == 0 || message != dialEvent) return;
  {
    // A dial still being started has stored its connection once this passes.
    std::lock_guard barrier(ctx.dialLock);
  }
  const DWORD state = static_cast<DWORD>(wParam);
  const DWORD error = static_cast<DWORD>(static_cast<ULONGLONG>(lParam) & 0xFFFFFFFF);
  if (error != 0) {
    DunHangUp();
  } else if (state == port::kRasDeviceConnected) {
    callBack(1);
    DunStartMonitor();
  } else if (state == port::kRasDisconnected) {
    DunHangUp();
  }
  // Every other state, the completed connection included, changes nothing here:
  // the monitor reports it.
}

}  // namespace utils::dialup
