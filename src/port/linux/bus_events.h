// The radio's vendor events as vrlbusd pushes them to subscribers: one
// connection turned into an event stream. Meant for an event thread that waits
// on fd() (with poll, beside its other sources) and then drains next().
#pragma once

#include <memory>
#include <vector>

#include "port/linux/bus_socket.h"

namespace utils::linuxport {

class BusEventSubscription {
 public:
  // Connects to the daemon's socket (UTILS_BUS_SOCKET or the default) and
  // subscribes. Returns 0 and the subscription, or the error (ERROR_FILE_NOT_FOUND
  // when no daemon listens).
  static DWORD open(std::unique_ptr<BusEventSubscription>* subscription, int timeoutMs = 2000);

  // Readable when events (or the end of the stream) are waiting.
  int fd() const { return socket_->fd(); }

  // The next HCI event packet received (0xFF, parameter length L, then L bytes:
  // the vendor sub-event code and its payload). Returns 0 with the event,
  // ERROR_NO_MORE_ITEMS when none is waiting, or the error that ended the stream
  // (ERROR_DEVICE_NOT_CONNECTED when the daemon went away, ERROR_INVALID_DATA for
  // a malformed frame); after an error the subscription is finished.
  DWORD next(std::vector<BYTE>* event);

  // Blocks up to timeoutMs for the next event (tests and tools).
  DWORD wait(std::vector<BYTE>* event, int timeoutMs);

 private:
  explicit BusEventSubscription(std::unique_ptr<BusSocket> socket) : socket_(std::move(socket)) {}
  DWORD accept(const busproto::Frame& frame, std::vector<BYTE>* event);

  std::unique_ptr<BusSocket> socket_;
};

// The data field of the DEV_BROADCAST_HANDLE that Windows delivers for a vendor
// event: 13 header bytes (zero), then the HCI parameter length at byte 13 and
// the parameters from byte 14 on. Empty for a malformed event.
std::vector<BYTE> vendorEventRecordData(const std::vector<BYTE>& event);

}  // namespace utils::linuxport
