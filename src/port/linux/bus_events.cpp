#include "port/linux/bus_events.h"

namespace utils::linuxport {

DWORD BusEventSubscription::open(std::unique_ptr<BusEventSubscription>* subscription, int timeoutMs) {
  std::unique_ptr<BusSocket> socket;
  if (const DWORD error = BusSocket::connect(busSocketPath(), &socket); error != 0) return error;
  busproto::Frame reply;
  if (const DWORD error =
          socket->exchange(busproto::Type::kSubscribe, {}, busproto::Type::kSubscribed, &reply, timeoutMs);
      error != 0) {
    return error;
  }
  subscription->reset(new BusEventSubscription(std::move(socket)));
  return 0;
}

DWORD BusEventSubscription::accept(const busproto::Frame& frame, std::vector<BYTE>* event) {
  if (frame.type != busproto::Type::kVendorEvent || !busproto::isWellFormedHciEvent(frame.body)) {
    return ERROR_INVALID_DATA;
  }
  event->assign(frame.body.begin(), frame.body.end());
  return 0;
}

DWORD BusEventSubscription::next(std::vector<BYTE>* event) {
  busproto::Frame frame;
  if (const DWORD error = socket_->receiveNow(&frame); error != 0) return error;
  return accept(frame, event);
}

DWORD BusEventSubscription::wait(std::vector<BYTE>* event, int timeoutMs) {
  busproto::Frame frame;
  if (const DWORD error = socket_->receive(&frame, timeoutMs); error != 0) return error;
  return accept(frame, event);
}

std::vector<BYTE> vendorEventRecordData(const std::vector<BYTE>& event) {
  if (!busproto::isWellFormedHciEvent(event)) return {};
  std::vector<BYTE> data(13, 0);
  data.insert(data.end(), event.begin() + 1, event.end());  // length byte, then the parameters
  return data;
}

}  // namespace utils::linuxport
