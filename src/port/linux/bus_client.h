// The bus driver port on Linux: a client of vrlbusd's socket. The "bus
// interface" is present when the socket accepts a connection; each open handle
// is one connection, and each I/O control request one framed exchange on it.
// The connection that found the interface is the one the next open of it
// takes, so that a lookup and its request connect once.
#pragma once

#include <mutex>

#include "port/bus_port.h"
#include "port/linux/bus_socket.h"
#include "port/linux/radio_handles.h"

namespace utils::linuxport {

class LinuxBus : public port::BusPort {
 public:
  DWORD findFirstInterface(port::BusInterface* found) override;
  DWORD open(const wchar_t* path, HANDLE* handle) override;
  DWORD ioControl(HANDLE bus, DWORD code, const void* input, DWORD inputSize, void* output, DWORD outputSize,
                  DWORD* returned) override;
  DWORD close(HANDLE bus) override;

  size_t openHandleCount() const { return handles_.size(); }

 private:
  struct Connection {
    std::mutex mutex;  // one request at a time on a connection
    std::unique_ptr<BusSocket> socket;
    std::string path;   // for a reconnection
    bool used = false;  // a request went through on it
  };
  HandleTable<Connection> handles_;
  // The connection of the last lookup, until an open of its path takes it.
  std::mutex foundMutex_;
  std::unique_ptr<BusSocket> found_;  // GUARDED_BY(foundMutex_)
  std::string foundPath_;             // GUARDED_BY(foundMutex_)
};

// How long a request may wait for the daemon's answer (the controller answers
// within a few seconds or the daemon gives up first).
inline constexpr int kBusRequestTimeoutMs = 10000;

// The controller's Read Local Version Information through the daemon: the
// manufacturer and the LMP subversion. False when the daemon or the controller
// cannot say.
bool readControllerVersion(WORD* manufacturer, WORD* lmpSubversion);

}  // namespace utils::linuxport
