// The socket probe on Windows: Winsock 2.2 and an AF_BTH RFCOMM stream socket
// bound to address 0 and any port. Where the system has no Bluetooth sockets the
// socket call fails and its Winsock error is reported as it is.
#pragma once

#include "port/rfcomm_port.h"

namespace utils::win32port {

class Win32Rfcomm : public port::RfcommPort {
 public:
  DWORD startup() override;  // WSAStartup(2.2)
  void cleanup() override;   // WSACleanup
  DWORD probe(port::RfcommProbe* result) override;
};

}  // namespace utils::win32port
