#include "port/linux/bus_protocol.h"

namespace utils::busproto {

void putU32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

uint32_t getU32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
         static_cast<uint32_t>(at[3]) << 24;
}

void appendFrame(std::vector<uint8_t>& out, Type type, std::span<const uint8_t> body) {
  putU32(out, static_cast<uint32_t>(body.size() + 1));
  out.push_back(static_cast<uint8_t>(type));
  out.insert(out.end(), body.begin(), body.end());
}

Parse parseFrame(std::span<const uint8_t> buffer, Frame* frame, size_t* consumed) {
  if (buffer.size() < 4) return Parse::kNeedMore;
  const uint32_t length = getU32(buffer.data());
  if (length == 0 || length > kMaxBody + 1) return Parse::kInvalid;
  if (buffer.size() - 4 < length) return Parse::kNeedMore;
  frame->type = static_cast<Type>(buffer[4]);
  frame->body.assign(buffer.begin() + kHeaderSize, buffer.begin() + 4 + length);
  *consumed = 4 + length;
  return Parse::kFrame;
}

std::vector<uint8_t> encodeIoControl(const IoControlRequest& request) {
  std::vector<uint8_t> body;
  body.reserve(8 + request.input.size());
  putU32(body, request.code);
  putU32(body, request.outputSize);
  body.insert(body.end(), request.input.begin(), request.input.end());
  return body;
}

std::optional<IoControlRequest> decodeIoControl(std::span<const uint8_t> body) {
  if (body.size() < 8 || body.size() - 8 > kMaxInput) return std::nullopt;
  IoControlRequest request;
  request.code = getU32(body.data());
  request.outputSize = getU32(body.data() + 4);
  if (request.outputSize > kMaxOutput) return std::nullopt;
  request.input.assign(body.begin() + 8, body.end());
  return request;
}

std::vector<uint8_t> encodeIoControlReply(const IoControlReply& reply) {
  std::vector<uint8_t> body;
  body.reserve(4 + reply.output.size());
  putU32(body, reply.error);
  body.insert(body.end(), reply.output.begin(), reply.output.end());
  return body;
}

std::optional<IoControlReply> decodeIoControlReply(std::span<const uint8_t> body, size_t maxOutput) {
  if (body.size() < 4 || body.size() - 4 > maxOutput) return std::nullopt;
  IoControlReply reply;
  reply.error = getU32(body.data());
  reply.output.assign(body.begin() + 4, body.end());
  return reply;
}

bool isWellFormedHciEvent(std::span<const uint8_t> event) {
  return event.size() >= 2 && event.size() <= kMaxHciEvent && event[1] == event.size() - 2;
}

}  // namespace utils::busproto
