#include "bus_requests.h"

#include <algorithm>
#include <iostream>

namespace vrlbusd {

namespace busproto = utils::busproto;

busproto::IoControlReply BusRequests::handle(const busproto::IoControlRequest& request) {
  recent_.push_back(request);
  if (recent_.size() > busproto::kRememberedRequests) recent_.pop_front();
  switch (request.code) {
    case kIoctlVendorHciCommand: return vendorCommand(request);
    case kIoctlPairedDeviceCount: return pairedCount(request);
    default: return busproto::IoControlReply{kErrorInvalidFunction, {}};
  }
}

// Input: company identifier (4), LMP version, pattern flag, opcode (2), the
// parameter length byte, then the parameters (and the pattern, which the
// controller does not see). The parameters sent are as many as the length byte
// says, bounded by the bytes that are there.
busproto::IoControlReply BusRequests::vendorCommand(const busproto::IoControlRequest& request) {
  const auto& in = request.input;
  if (in.size() < 9) return busproto::IoControlReply{kErrorInvalidParameter, {}};
  const auto opcode = static_cast<uint16_t>(in[6] | in[7] << 8);
  const size_t count = std::min<size_t>(in[8], in.size() - 9);
  Packet answer;
  const uint32_t error = controller_.command(opcode, std::span<const uint8_t>(in.data() + 9, count), &answer);
  if (error != 0) return busproto::IoControlReply{error, {}};
  answer.resize(std::min<size_t>(answer.size(), request.outputSize));
  return busproto::IoControlReply{0, std::move(answer)};
}

// Input: 10 (4 bytes), then the count (4 bytes); the rest is padding.
busproto::IoControlReply BusRequests::pairedCount(const busproto::IoControlRequest& request) {
  const auto& in = request.input;
  if (in.size() < 8 || busproto::getU32(in.data()) != 10) return busproto::IoControlReply{kErrorInvalidParameter, {}};
  pairedCount_ = busproto::getU32(in.data() + 4);
  std::clog << "vrlbusd: paired device count " << *pairedCount_ << std::endl;
  return busproto::IoControlReply{0, {}};
}

std::vector<uint8_t> BusRequests::encodeRecent() const {
  // The newest requests that fit in one frame.
  size_t first = recent_.size();
  size_t size = 4;
  while (first > 0 && size + 8 + recent_[first - 1].input.size() <= busproto::kMaxBody) {
    size += 8 + recent_[--first].input.size();
  }
  std::vector<uint8_t> body;
  busproto::putU32(body, static_cast<uint32_t>(recent_.size() - first));
  for (auto it = recent_.begin() + static_cast<std::ptrdiff_t>(first); it != recent_.end(); ++it) {
    const auto& request = *it;
    busproto::putU32(body, request.code);
    busproto::putU32(body, static_cast<uint32_t>(request.input.size()));
    body.insert(body.end(), request.input.begin(), request.input.end());
  }
  return body;
}

std::vector<uint8_t> BusRequests::encodeVersion() {
  Packet answer;
  uint32_t error = controller_.command(0x1001, {}, &answer);
  // Command Complete: 0x0E, length, packets, opcode (2), status, then 8 bytes.
  if (error == 0 && (answer.size() != 14 || answer[0] != 0x0E || answer[5] != 0)) error = kErrorNotReady;
  std::vector<uint8_t> body;
  busproto::putU32(body, error);
  if (error == 0) body.insert(body.end(), answer.begin() + 6, answer.end());
  return body;
}

}  // namespace vrlbusd
