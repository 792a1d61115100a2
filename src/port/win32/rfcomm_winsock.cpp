// winsock2.h before the port header: it must come before windows.h.
#include <winsock2.h>
/* after winsock2.h, which it needs */
#include <ws2bth.h>

#include "port/win32/rfcomm_winsock.h"

namespace utils::win32port {
namespace {

// WSAGetLastError after a failed call; never 0, so a failure never reads as success.
DWORD lastSocketError() {
  const int error = WSAGetLastError();
  return error != 0 ? static_cast<DWORD>(error) : static_cast<DWORD>(WSAEINVAL);
}

}  // namespace

DWORD Win32Rfcomm::startup() {
  WSADATA data{};
  return static_cast<DWORD>(WSAStartup(MAKEWORD(2, 2), &data));
}

void Win32Rfcomm::cleanup() { WSACleanup(); }

DWORD Win32Rfcomm::probe(port::RfcommProbe* result) {
  result->socket = 0;
  const SOCKET probe = ::socket(AF_BTH, SOCK_STREAM, BTHPROTO_RFCOMM);
  if (probe == INVALID_SOCKET) {
    result->failedStep = port::RfcommProbeStep::kSocket;
    return lastSocketError();
  }
  result->socket = static_cast<UINT_PTR>(probe);
  SOCKADDR_BTH address{};  // device address 0, no service class
  address.addressFamily = AF_BTH;
  address.port = BT_PORT_ANY;
  static_assert(sizeof address == 30, "the packed Bluetooth socket address");
  const int bound = ::bind(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  // Read before closesocket, which sets its own error.
  const DWORD error = bound == SOCKET_ERROR ? lastSocketError() : 0;
  closesocket(probe);
  result->failedStep = error == 0 ? port::RfcommProbeStep::kNone : port::RfcommProbeStep::kBind;
  return error;
}

}  // namespace utils::win32port
