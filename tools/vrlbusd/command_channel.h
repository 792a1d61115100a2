// The queue of HCI commands between the clients and the controller. One
// command is with the controller at a time (controllers take them one by one);
// the others wait in arrival order. Answers are matched by opcode: Command
// Complete, or Command Status (a failed status is a failed command). A command
// the controller does not answer in time, or that waited too long to be sent,
// fails with a timeout; while the controller is away every command fails with
// "not ready". Nothing here blocks: the daemon's poll loop calls pump().
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "controller.h"

namespace vrlbusd {

class HciRecorder;

using Clock = std::chrono::steady_clock;

struct CommandRequest {
  unsigned client = 0;      // who gets the answer
  uint32_t purpose = 0;     // the caller's tag, handed back with the result
  uint32_t outputSize = 0;  // the caller's, handed back with the result
  uint16_t opcode = 0;
  std::vector<uint8_t> parameters;
};

struct CommandResult {
  CommandRequest request;
  uint32_t error = 0;  // 0, or the Win32 error of the failure
  Packet answer;       // the Command Complete or Command Status event (error 0)
};

struct CommandTimeouts {
  std::chrono::milliseconds answer{2000};  // from sending to the answer
  std::chrono::milliseconds queued{5000};  // from arrival to sending
};

// The Win32 error for a Command Status whose status is not 0.
uint32_t commandStatusError(uint8_t status);

class CommandChannel {
 public:
  CommandChannel(Controller& controller, CommandTimeouts timeouts) : controller_(controller), timeouts_(timeouts) {}

  void setRecorder(HciRecorder* recorder) { recorder_ = recorder; }
  void submit(CommandRequest request, Clock::time_point now);

  // Collects the controller's events, finishes what was answered or timed out,
  // and sends the next command. Finished commands go to *done, vendor events
  // to *vendorEvents, in the order they came.
  void pump(Clock::time_point now, std::vector<CommandResult>* done, std::vector<Packet>* vendorEvents);

  // When pump() must run again at the latest (nothing when no command waits).
  std::optional<Clock::time_point> nextDeadline() const;

  // Forgets the waiting commands of a client that went away (a command already
  // with the controller is finished, and its answer dropped by the caller).
  void forget(unsigned client);

  bool idle() const { return !inFlight_ && queue_.empty(); }

 private:
  struct Waiting {
    CommandRequest request;
    Clock::time_point arrived;
  };
  struct InFlight {
    CommandRequest request;
    Clock::time_point deadline;
  };

  void takeEvents(std::vector<CommandResult>* done, std::vector<Packet>* vendorEvents);
  void finish(uint32_t error, Packet answer, std::vector<CommandResult>* done);
  void failQueued(uint32_t error, std::vector<CommandResult>* done);

  Controller& controller_;
  CommandTimeouts timeouts_;
  HciRecorder* recorder_ = nullptr;
  std::deque<Waiting> queue_;
  std::optional<InFlight> inFlight_;
};

}  // namespace vrlbusd
