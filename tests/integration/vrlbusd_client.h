// What the tests of vrlbusd and of the radio adapters say to the daemon: its
// requests over a BusSocket, raw connections and event subscriptions.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "port/linux/bus_events.h"
#include "port/linux/bus_socket.h"
#include "radio_test_env.h"

namespace utils::test {

namespace busproto = utils::busproto;
using linuxport::BusSocket;
using Bytes = std::vector<uint8_t>;

constexpr DWORD kVendorCode = 0x9C4024C8;
constexpr DWORD kPairedCountCode = 0x9C402644;

// A vendor command request: company 0x1D, LMP version, pattern flag, opcode,
// length byte and parameters.
inline Bytes vendorCommand(uint16_t opcode, const Bytes& parameters = {0}) {
  Bytes input{0x1D, 0, 0, 0, 0, 1, static_cast<uint8_t>(opcode), static_cast<uint8_t>(opcode >> 8)};
  input.push_back(static_cast<uint8_t>(parameters.size()));
  for (const uint8_t byte : parameters) input.push_back(byte);  // (insert trips GCC 12's bounds warning)
  return input;
}

// A paired-device count request for count devices.
inline Bytes pairedCount(uint8_t count, size_t size = 2092) {
  Bytes input(size, 0);
  input[0] = 10;
  input[4] = count;
  return input;
}

inline std::unique_ptr<BusSocket> connectBus(const std::string& path) {
  std::unique_ptr<BusSocket> socket;
  EXPECT_EQ(0u, BusSocket::connect(path, &socket)) << path;
  return socket;
}

// A request and the body of its answer (empty when none came).
inline Bytes ask(BusSocket& socket, busproto::Type type, busproto::Type answer, const Bytes& body = {}) {
  busproto::Frame reply;
  EXPECT_EQ(0u, socket.exchange(type, body, answer, &reply, 30000));
  return reply.body;
}

// An I/O control request and its decoded answer (error 0xFFFFFFFF when none came).
inline busproto::IoControlReply ioControl(BusSocket& socket, DWORD code, const Bytes& input,
                                          uint32_t outputSize = 1024) {
  const Bytes body = ask(socket, busproto::Type::kIoControl, busproto::Type::kIoControlReply,
                         busproto::encodeIoControl({code, outputSize, input}));
  return busproto::decodeIoControlReply(body, outputSize).value_or(busproto::IoControlReply{0xFFFFFFFF, {}});
}

// The error of a controller version request.
inline uint32_t versionError(BusSocket& socket) {
  const Bytes body = ask(socket, busproto::Type::kControllerVersion, busproto::Type::kVersionReply);
  return body.size() < 4 ? 0xFFFFFFFF : busproto::getU32(body.data());
}

// The daemon's vendor events at path, as the library subscribes to them.
inline std::unique_ptr<linuxport::BusEventSubscription> subscribeEvents(const std::string& path) {
  ::setenv("UTILS_BUS_SOCKET", path.c_str(), 1);
  std::unique_ptr<linuxport::BusEventSubscription> events;
  EXPECT_EQ(0u, linuxport::BusEventSubscription::open(&events));
  ::unsetenv("UTILS_BUS_SOCKET");
  return events;
}

// A raw connection, for clients that break the protocol or say nothing.
inline int rawConnect(const std::string& path) {
  const sockaddr_un address = unixAddress(path);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  EXPECT_EQ(0, ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address)) << path;
  return fd;
}

// Reads and discards until the daemon closes fd (true), or until it stays
// silent for `seconds`; fd is closed.
inline bool closedByDaemon(int fd, int seconds = 3) {
  timeval limit{seconds, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  uint8_t buffer[4096];
  ssize_t n = 0;
  while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
  }
  ::close(fd);
  return n == 0;
}

}  // namespace utils::test
