// The socket probe on Linux: whether an RFCOMM stream socket can be bound on the
// local radio. The kernel alone would bind one to "any" address whenever its
// Bluetooth module loads, with no adapter or with the adapter powered off, so
// the probe first asks the Bluetooth daemon for the first adapter and requires
// it to be powered, then binds the socket to that adapter's address at any
// channel. Where the kernel has no Bluetooth the socket call fails and the probe
// reports it with the Winsock code that means the same.
#pragma once

#include <cstdint>
#include <functional>

#include "port/rfcomm_port.h"

namespace utils::linuxport {

class LinuxRfcomm : public port::RfcommPort {
 public:
  // The first adapter's address and whether it is powered: 0, or an error when
  // there is no adapter.
  using RadioState = std::function<DWORD(uint64_t* address, bool* powered)>;

  explicit LinuxRfcomm(RadioState radioState) : radioState_(std::move(radioState)) {}

  DWORD startup() override { return 0; }  // no socket layer to start on Linux
  void cleanup() override {}
  DWORD probe(port::RfcommProbe* result) override;

 private:
  RadioState radioState_;
};

// The Winsock code for an errno value of socket or bind.
DWORD rfcommErrnoToWinsock(int error);

// Winsock codes of a probe without a usable radio: no adapter (its address is
// not available to bind to), or an adapter that is powered off (down).
inline constexpr DWORD kWsaAddressNotAvailable = 10049;  // WSAEADDRNOTAVAIL
inline constexpr DWORD kWsaNetworkDown = 10050;          // WSAENETDOWN

}  // namespace utils::linuxport
