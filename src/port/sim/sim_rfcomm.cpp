#include "port/sim/sim_rfcomm.h"

namespace utils::sim {

DWORD SimRfcomm::startup() {
  std::lock_guard lock(mutex_);
  if (startupError_ != 0) return startupError_;
  ++startups_;
  return 0;
}

void SimRfcomm::cleanup() {
  std::lock_guard lock(mutex_);
  ++cleanups_;
}

DWORD SimRfcomm::probe(port::RfcommProbe* result) {
  std::function<void(int)> hook;
  int number = 0;
  {
    std::lock_guard lock(mutex_);
    number = ++probes_;
    hook = hook_;
  }
  if (hook) hook(number);
  std::lock_guard lock(mutex_);
  Outcome outcome = default_;
  if (!script_.empty()) {
    outcome = script_.front();
    script_.pop_front();
  }
  result->failedStep = outcome.error == 0 ? port::RfcommProbeStep::kNone : outcome.failedStep;
  result->socket = outcome.failedStep == port::RfcommProbeStep::kSocket ? 0 : 0x100 + static_cast<UINT_PTR>(number);
  return outcome.error;
}

void SimRfcomm::scriptProbes(std::deque<Outcome> outcomes) {
  std::lock_guard lock(mutex_);
  script_ = std::move(outcomes);
}

void SimRfcomm::setDefaultOutcome(Outcome outcome) {
  std::lock_guard lock(mutex_);
  default_ = outcome;
}

void SimRfcomm::failStartup(DWORD error) {
  std::lock_guard lock(mutex_);
  startupError_ = error;
}

void SimRfcomm::onProbe(std::function<void(int)> hook) {
  std::lock_guard lock(mutex_);
  hook_ = std::move(hook);
}

int SimRfcomm::probes() const {
  std::lock_guard lock(mutex_);
  return probes_;
}

int SimRfcomm::startups() const {
  std::lock_guard lock(mutex_);
  return startups_;
}

int SimRfcomm::cleanups() const {
  std::lock_guard lock(mutex_);
  return cleanups_;
}

}  // namespace utils::sim
