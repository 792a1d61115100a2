// One client connection to vrlbusd's socket: blocking frame exchange with a
// deadline for requests, and non-blocking reading for event streams.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "port/linux/bus_protocol.h"
#include "utils/wintypes.h"

namespace utils::linuxport {

// The daemon's socket: UTILS_BUS_SOCKET, else the default path.
std::string busSocketPath();

// A Win32 error code for an errno value of a socket call.
DWORD busErrnoToWin32(int error);

class BusSocket {
 public:
  ~BusSocket();
  BusSocket(const BusSocket&) = delete;
  BusSocket& operator=(const BusSocket&) = delete;

  // Connects to the socket at path. Returns 0 and the connection, or the error:
  // ERROR_FILE_NOT_FOUND when nothing listens there (no file, or a stale one).
  static DWORD connect(const std::string& path, std::unique_ptr<BusSocket>* connection);

  // Sends one frame, waiting at most timeoutMs for room.
  DWORD send(busproto::Type type, std::span<const uint8_t> body, int timeoutMs);
  // Waits at most timeoutMs for the next whole frame. ERROR_SEM_TIMEOUT when none
  // came, ERROR_DEVICE_NOT_CONNECTED when the daemon closed the connection,
  // ERROR_INVALID_DATA for a frame that breaks the protocol's bounds.
  DWORD receive(busproto::Frame* frame, int timeoutMs);
  // One request and its answer, which must be of type expected.
  DWORD exchange(busproto::Type type, std::span<const uint8_t> body, busproto::Type expected, busproto::Frame* reply,
                 int timeoutMs);

  // For event streams: the descriptor to wait on, and the next frame already
  // received without blocking. Returns 0 with a frame, ERROR_NO_MORE_ITEMS when
  // no whole frame is there yet, or the error that ends the stream.
  int fd() const { return fd_; }
  DWORD receiveNow(busproto::Frame* frame);

 private:
  explicit BusSocket(int fd) : fd_(fd) {}
  // Reads what is there into the buffer; waits at most timeoutMs for a first byte.
  DWORD fill(int timeoutMs);
  DWORD takeFrame(busproto::Frame* frame, bool* taken);

  int fd_ = -1;
  std::vector<uint8_t> buffer_;
  bool broken_ = false;
};

}  // namespace utils::linuxport
