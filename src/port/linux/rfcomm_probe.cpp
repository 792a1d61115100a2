#include "port/linux/rfcomm_probe.h"

#include <bluetooth/bluetooth.h>
#include <bluetooth/rfcomm.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace utils::linuxport {

DWORD rfcommErrnoToWinsock(int error) {
  switch (error) {
    case EAFNOSUPPORT: return 10047;     // WSAEAFNOSUPPORT
    case EPROTONOSUPPORT: return 10043;  // WSAEPROTONOSUPPORT
    case ESOCKTNOSUPPORT: return 10044;  // WSAESOCKTNOSUPPORT
    case EADDRINUSE: return 10048;       // WSAEADDRINUSE
    case EADDRNOTAVAIL: return 10049;    // WSAEADDRNOTAVAIL
    case EACCES:
    case EPERM: return 10013;  // WSAEACCES
    case EMFILE:
    case ENFILE: return 10024;  // WSAEMFILE
    case ENOBUFS:
    case ENOMEM: return 10055;  // WSAENOBUFS
    case ENETDOWN: return 10050;
    default: return 10022;  // WSAEINVAL
  }
}

DWORD LinuxRfcomm::probe(port::RfcommProbe* result) {
  result->socket = 0;
  // The radio first: without a powered adapter there is nothing to bind to.
  uint64_t radioAddress = 0;
  bool powered = false;
  if (!radioState_ || radioState_(&radioAddress, &powered) != 0) {
    result->failedStep = port::RfcommProbeStep::kBind;
    return kWsaAddressNotAvailable;
  }
  if (!powered) {
    result->failedStep = port::RfcommProbeStep::kBind;
    return kWsaNetworkDown;
  }
  const int fd = ::socket(AF_BLUETOOTH, SOCK_STREAM | SOCK_CLOEXEC, BTPROTO_RFCOMM);
  if (fd < 0) {
    result->failedStep = port::RfcommProbeStep::kSocket;
    return rfcommErrnoToWinsock(errno);
  }
  result->socket = static_cast<UINT_PTR>(fd);
  sockaddr_rc address{};
  address.rc_family = AF_BLUETOOTH;
  // bdaddr_t holds the address least significant byte first.
  for (int i = 0; i < 6; ++i) address.rc_bdaddr.b[i] = static_cast<uint8_t>(radioAddress >> (8 * i));
  address.rc_channel = 0;  // any channel
  const int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  const int error = errno;
  ::close(fd);
  if (bound != 0) {
    result->failedStep = port::RfcommProbeStep::kBind;
    return rfcommErrnoToWinsock(error);
  }
  result->failedStep = port::RfcommProbeStep::kNone;
  return 0;
}

}  // namespace utils::linuxport
