// The framed protocol between the library's bus adapter and vrlbusd, the bus
// driver daemon (tools/vrlbusd/PROTOCOL.md describes it). Pure byte handling: no
// sockets here, so the daemon, the adapter and the tests share one codec.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace utils::busproto {

inline constexpr uint32_t kVersion = 1;
// Where the daemon listens unless UTILS_BUS_SOCKET names another socket.
inline constexpr const char* kDefaultSocketPath = "/run/vrlbusd/bus.sock";
inline constexpr size_t kHeaderSize = 5;  // u32 body length, u8 type

// Bounds on what either side accepts; anything larger is a protocol error.
inline constexpr size_t kMaxInput = 8192;    // I/O control input bytes
inline constexpr size_t kMaxOutput = 65536;  // I/O control output bytes
inline constexpr size_t kMaxBody = kMaxOutput + 16;
inline constexpr size_t kMaxHciEvent = 2 + 255;    // event code, length, parameters
inline constexpr size_t kRememberedRequests = 16;  // requests the daemon remembers

enum class Type : uint8_t {
  kHello = 0x01,              // u32 version
  kIoControl = 0x02,          // u32 code, u32 output size, input bytes
  kSubscribe = 0x03,          // (empty): the connection turns into an event stream
  kControllerVersion = 0x04,  // (empty)
  kRecentRequests = 0x05,     // (empty)
  kCapture = 0x06,            // u8 0 stop, 1 start; for a start, optionally the file's path
  kHelloReply = 0x81,         // u32 version
  kIoControlReply = 0x82,     // u32 Win32 error, output bytes (at most the output size)
  kSubscribed = 0x83,         // (empty)
  kVendorEvent = 0x84,        // one HCI event packet: 0xFF, length L, L parameter bytes
  kVersionReply = 0x85,       // u32 Win32 error, 8 bytes of Read Local Version Information
  kRecentReply = 0x86,        // u32 count, then per request: u32 code, u32 length, bytes
  kCaptureReply = 0x87,       // u32 Win32 error
};

struct Frame {
  Type type{};
  std::vector<uint8_t> body;  // without the type byte
};

// Appends one frame to out.
void appendFrame(std::vector<uint8_t>& out, Type type, std::span<const uint8_t> body);

// What the next bytes of a stream hold.
enum class Parse {
  kFrame,     // a whole frame was taken from the front of the buffer
  kNeedMore,  // a frame has begun but is not complete
  kInvalid,   // the length is 0 or above kMaxBody: the stream cannot be trusted
};

// Takes the first whole frame off buffer (consumed is set to its size).
Parse parseFrame(std::span<const uint8_t> buffer, Frame* frame, size_t* consumed);

// Little-endian fields.
void putU32(std::vector<uint8_t>& out, uint32_t value);
uint32_t getU32(const uint8_t* at);

struct IoControlRequest {
  uint32_t code = 0;
  uint32_t outputSize = 0;
  std::vector<uint8_t> input;
};
std::vector<uint8_t> encodeIoControl(const IoControlRequest& request);
// Nothing when the body is short or a size is above its bound.
std::optional<IoControlRequest> decodeIoControl(std::span<const uint8_t> body);

struct IoControlReply {
  uint32_t error = 0;
  std::vector<uint8_t> output;
};
std::vector<uint8_t> encodeIoControlReply(const IoControlReply& reply);
// Nothing when the body is short or holds more than maxOutput bytes.
std::optional<IoControlReply> decodeIoControlReply(std::span<const uint8_t> body, size_t maxOutput);

// An HCI event packet is well formed when its length byte matches its size.
bool isWellFormedHciEvent(std::span<const uint8_t> event);

}  // namespace utils::busproto
