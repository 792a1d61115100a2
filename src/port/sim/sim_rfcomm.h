// A simulated socket layer: a script of probe outcomes and counts of start-ups,
// clean-ups and probes.
#pragma once

#include <deque>
#include <functional>
#include <mutex>

#include "port/rfcomm_port.h"

namespace utils::sim {

class SimRfcomm : public port::RfcommPort {
 public:
  struct Outcome {
    DWORD error = 0;  // 0: bound
    port::RfcommProbeStep failedStep = port::RfcommProbeStep::kNone;
  };

  DWORD startup() override;
  void cleanup() override;
  DWORD probe(port::RfcommProbe* result) override;

  // Outcomes of the next probes, in order; afterwards every probe gives the
  // default outcome (bound unless changed).
  void scriptProbes(std::deque<Outcome> outcomes);
  void setDefaultOutcome(Outcome outcome);
  void failStartup(DWORD error);
  // Called before each probe (a test can change other state mid-run).
  void onProbe(std::function<void(int probeNumber)> hook);

  int probes() const;
  int startups() const;
  int cleanups() const;

 private:
  mutable std::mutex mutex_;
  std::deque<Outcome> script_;
  Outcome default_;
  DWORD startupError_ = 0;
  std::function<void(int)> hook_;
  int probes_ = 0;
  int startups_ = 0;
  int cleanups_ = 0;
};

}  // namespace utils::sim
