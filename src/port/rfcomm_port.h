// The Bluetooth socket probe: whether the stack lets an RFCOMM socket be bound on
// the local radio at any channel. Winsock on Windows; an AF_BLUETOOTH socket on
// Linux, which fails cleanly where the kernel has no Bluetooth.
#pragma once

#include "utils/wintypes.h"

namespace utils::port {

// The step at which a probe stopped.
enum class RfcommProbeStep {
  kNone,    // the socket was bound
  kSocket,  // no RFCOMM stream socket could be made
  kBind,    // the socket could not be bound to any address and channel
};

struct RfcommProbe {
  RfcommProbeStep failedStep = RfcommProbeStep::kNone;
  UINT_PTR socket = 0;  // the socket's value when one was made (for diagnostics only)
};

class RfcommPort {
 public:
  virtual ~RfcommPort() = default;

  // Starts the socket layer for this caller (WSAStartup, version 2.2). Returns 0,
  // or the error; every success is balanced by one cleanup.
  virtual DWORD startup() = 0;

  // Ends one successful startup (WSACleanup).
  virtual void cleanup() = 0;

  // Makes an RFCOMM stream socket, binds it on the local radio at any channel,
  // and closes it again in every case. Returns 0 when the bind succeeded,
  // otherwise the socket layer's error code (WSAGetLastError values, 10047 when
  // the system has no Bluetooth sockets) with result->failedStep naming the failed
  // call. Without a usable radio (none, or powered off) the bind step fails.
  virtual DWORD probe(RfcommProbe* result) = 0;
};

}  // namespace utils::port
