#include "bus_requests.h"

#include <algorithm>

#include "log.h"

namespace vrlbusd {

namespace busproto = utils::busproto;

std::string Peer::describe() const {
  return "client " + std::to_string(id) + " (uid " + std::to_string(uid) + ", pid " + std::to_string(pid) + ")";
}

void BusRequests::remember(uint32_t uid, const busproto::IoControlRequest& request) {
  auto& mine = recent_[uid];
  mine.push_back(Remembered{nextSequence_++, request});
  if (mine.size() > busproto::kRememberedRequests) mine.pop_front();
  if (recent_.size() <= kRememberedUsers) return;
  // Forget the user whose latest request is the oldest.
  auto oldest = recent_.begin();
  for (auto it = recent_.begin(); it != recent_.end(); ++it) {
    if (it->second.back().sequence < oldest->second.back().sequence) oldest = it;
  }
  recent_.erase(oldest);
}

Outcome BusRequests::handle(const Peer& peer, const busproto::IoControlRequest& request) {
  remember(peer.uid, request);
  switch (request.code) {
    case kIoctlVendorHciCommand: return vendorCommand(peer, request);
    case kIoctlPairedDeviceCount: return Outcome{pairedCount(peer, request), {}};
    default: return Outcome{busproto::IoControlReply{kErrorInvalidFunction, {}}, {}};
  }
}

// Input: company identifier (4), LMP version, pattern flag, opcode (2), the
// parameter length byte, then the parameters (and the pattern, which the
// controller does not see). The parameters sent are as many as the length byte
// says, bounded by the bytes that are there.
Outcome BusRequests::vendorCommand(const Peer& peer, const busproto::IoControlRequest& request) {
  const auto& in = request.input;
  if (in.size() < 9) return Outcome{busproto::IoControlReply{kErrorInvalidParameter, {}}, {}};
  const auto opcode = static_cast<uint16_t>(in[6] | in[7] << 8);
  if (!policy_.permits(opcode)) {
    log(peer.describe() + ": HCI opcode " + opcodeText(opcode) +
        " refused: not a vendor command (an administrator may allow it with --allow-opcode)");
    return Outcome{busproto::IoControlReply{kErrorAccessDenied, {}}, {}};
  }
  const size_t count = std::min<size_t>(in[8], in.size() - 9);
  CommandRequest command;
  command.client = peer.id;
  command.purpose = kPurposeVendorCommand;
  command.outputSize = request.outputSize;
  command.opcode = opcode;
  command.parameters.assign(in.begin() + 9, in.begin() + 9 + static_cast<std::ptrdiff_t>(count));
  return Outcome{{}, std::move(command)};
}

busproto::IoControlReply BusRequests::answer(const CommandResult& result) {
  if (result.error != 0) return busproto::IoControlReply{result.error, {}};
  const size_t size = std::min<size_t>(result.answer.size(), result.request.outputSize);
  return busproto::IoControlReply{
      0, Packet(result.answer.begin(), result.answer.begin() + static_cast<std::ptrdiff_t>(size))};
}

// Input: 10 (4 bytes), then the count (4 bytes); the rest is padding.
busproto::IoControlReply BusRequests::pairedCount(const Peer& peer, const busproto::IoControlRequest& request) {
  const auto& in = request.input;
  if (in.size() < 8 || busproto::getU32(in.data()) != 10) return busproto::IoControlReply{kErrorInvalidParameter, {}};
  pairedCount_ = busproto::getU32(in.data() + 4);
  log(peer.describe() + ": paired device count " + std::to_string(*pairedCount_));
  return busproto::IoControlReply{0, {}};
}

std::vector<uint8_t> BusRequests::encodeRecent(const Peer& peer) const {
  // The asker's own requests; root sees every user's, merged in arrival order.
  std::vector<const Remembered*> visible;
  for (const auto& [uid, requests] : recent_) {
    if (peer.uid != 0 && uid != peer.uid) continue;
    for (const auto& remembered : requests) visible.push_back(&remembered);
  }
  std::sort(visible.begin(), visible.end(),
            [](const Remembered* a, const Remembered* b) { return a->sequence < b->sequence; });
  if (visible.size() > busproto::kRememberedRequests) {
    visible.erase(visible.begin(), visible.end() - busproto::kRememberedRequests);
  }
  // The newest requests that fit in one frame.
  size_t first = visible.size();
  size_t size = 4;
  while (first > 0 && size + 8 + visible[first - 1]->request.input.size() <= busproto::kMaxBody) {
    size += 8 + visible[--first]->request.input.size();
  }
  std::vector<uint8_t> body;
  busproto::putU32(body, static_cast<uint32_t>(visible.size() - first));
  for (size_t i = first; i < visible.size(); ++i) {
    const auto& request = visible[i]->request;
    busproto::putU32(body, request.code);
    busproto::putU32(body, static_cast<uint32_t>(request.input.size()));
    body.insert(body.end(), request.input.begin(), request.input.end());
  }
  return body;
}

CommandRequest BusRequests::versionCommand(const Peer& peer) {
  CommandRequest command;
  command.client = peer.id;
  command.purpose = kPurposeVersion;
  command.opcode = kReadLocalVersion;
  return command;
}

std::vector<uint8_t> BusRequests::encodeVersion(const CommandResult& result) {
  uint32_t error = result.error;
  const Packet& answer = result.answer;
  // Command Complete: 0x0E, length, packets, opcode (2), status, then 8 bytes.
  if (error == 0 && (answer.size() != 14 || answer[0] != 0x0E || answer[5] != 0)) error = kErrorNotReady;
  std::vector<uint8_t> body;
  busproto::putU32(body, error);
  if (error == 0) body.insert(body.end(), answer.begin() + 6, answer.end());
  return body;
}

}  // namespace vrlbusd
