// The socket probe on Linux: an AF_BLUETOOTH RFCOMM stream socket bound to any
// local address at channel 0 (any). Where the kernel has no Bluetooth the socket
// call fails and the probe reports it with the Winsock code that means the same.
#pragma once

#include "port/rfcomm_port.h"

namespace utils::linuxport {

class LinuxRfcomm : public port::RfcommPort {
 public:
  DWORD startup() override { return 0; }  // no socket layer to start on Linux
  void cleanup() override {}
  DWORD probe(port::RfcommProbe* result) override;
};

// The Winsock code for an errno value of socket or bind.
DWORD rfcommErrnoToWinsock(int error);

}  // namespace utils::linuxport
