#include "command_channel.h"

#include <algorithm>

#include "btsnoop.h"
#include "log.h"

namespace vrlbusd {
namespace {

constexpr uint8_t kCommandComplete = 0x0E;
constexpr uint8_t kCommandStatus = 0x0F;
constexpr uint8_t kVendorEvent = 0xFF;

}  // namespace

uint32_t commandStatusError(uint8_t status) {
  switch (status) {
    case 0x01: return kErrorInvalidFunction;   // unknown HCI command: not supported
    case 0x12: return kErrorInvalidParameter;  // invalid HCI command parameters
    default: return kErrorGenFailure;
  }
}

void CommandChannel::submit(CommandRequest request, Clock::time_point now) {
  queue_.push_back(Waiting{std::move(request), now});
}

void CommandChannel::finish(uint32_t error, Packet answer, std::vector<CommandResult>* done) {
  done->push_back(CommandResult{std::move(inFlight_->request), error, std::move(answer)});
  inFlight_.reset();
}

void CommandChannel::failQueued(uint32_t error, std::vector<CommandResult>* done) {
  for (auto& waiting : queue_) done->push_back(CommandResult{std::move(waiting.request), error, {}});
  queue_.clear();
}

void CommandChannel::takeEvents(std::vector<CommandResult>* done, std::vector<Packet>* vendorEvents) {
  for (Packet& event : controller_.takeEvents()) {
    if (recorder_ != nullptr) recorder_->event(event);
    if (event.size() < 2 || event.size() != 2u + event[1]) continue;  // the controller checks; never trust twice
    const uint8_t code = event[0];
    if (code == kVendorEvent) {
      vendorEvents->push_back(std::move(event));
    } else if (code == kCommandComplete && event.size() >= 5) {
      const auto opcode = static_cast<uint16_t>(event[3] | event[4] << 8);
      if (inFlight_ && inFlight_->request.opcode == opcode) finish(0, std::move(event), done);
    } else if (code == kCommandStatus && event.size() >= 6) {
      const auto opcode = static_cast<uint16_t>(event[4] | event[5] << 8);
      if (!inFlight_ || inFlight_->request.opcode != opcode) continue;
      const uint8_t status = event[2];
      if (status == 0) {
        finish(0, std::move(event), done);  // accepted: the outcome follows as an event of its own
      } else {
        log("controller refused HCI command " + opcodeText(opcode) + " with status " + std::to_string(status));
        finish(commandStatusError(status), {}, done);
      }
    }
    // Command answers for other opcodes (the Bluetooth daemon's own) and other
    // events are not ours.
  }
}

void CommandChannel::pump(Clock::time_point now, std::vector<CommandResult>* done, std::vector<Packet>* vendorEvents) {
  takeEvents(done, vendorEvents);
  if (!controller_.ready()) {
    if (inFlight_) finish(kErrorNotReady, {}, done);
    failQueued(kErrorNotReady, done);
    return;
  }
  if (inFlight_ && now >= inFlight_->deadline) {
    log("controller did not answer HCI command " + opcodeText(inFlight_->request.opcode) + " in time");
    finish(kErrorSemTimeout, {}, done);
  }
  while (!queue_.empty() && now - queue_.front().arrived >= timeouts_.queued) {
    done->push_back(CommandResult{std::move(queue_.front().request), kErrorSemTimeout, {}});
    queue_.pop_front();
  }
  while (!inFlight_ && !queue_.empty()) {
    CommandRequest request = std::move(queue_.front().request);
    queue_.pop_front();
    const uint32_t error = controller_.send(request.opcode, request.parameters);
    if (error != 0) {
      done->push_back(CommandResult{std::move(request), error, {}});
      continue;
    }
    if (recorder_ != nullptr) recorder_->command(request.opcode, request.parameters);
    inFlight_ = InFlight{std::move(request), now + timeouts_.answer};
    takeEvents(done, vendorEvents);  // a controller may answer at once
  }
}

std::optional<Clock::time_point> CommandChannel::nextDeadline() const {
  std::optional<Clock::time_point> next;
  if (inFlight_) next = inFlight_->deadline;
  if (!queue_.empty()) {
    const auto expiry = queue_.front().arrived + timeouts_.queued;
    if (!next || expiry < *next) next = expiry;
  }
  return next;
}

void CommandChannel::forget(unsigned client) {
  std::erase_if(queue_, [client](const Waiting& waiting) { return waiting.request.client == client; });
}

}  // namespace vrlbusd
