// The simulated platform: every port in memory, deterministic, inspectable.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "port/platform.h"
#include "port/sim/sim_bus.h"
#include "port/sim/sim_credentials.h"
#include "port/sim/sim_dialup.h"
#include "port/sim/sim_modules.h"
#include "port/sim/sim_notification.h"
#include "port/sim/sim_radio.h"
#include "port/sim/sim_registry.h"
#include "port/sim/sim_rfcomm.h"
#include "port/sim/sim_shell.h"
#include "port/sim/xml_sim_dom.h"

namespace utils::sim {

// Records every text written to the debugger output.
class SimDebugOutput : public port::DebugOutputPort {
 public:
  struct Entry {
    bool wide = false;
    std::string narrow;
    std::wstring wideText;
    bool logLine = false;  // written by writeLogLine, with its level and module
    int level = 0;
    std::string module;
  };

  void writeLogLine(int level, const char* module, const char* line) override;
  void writeNarrow(const char* text) override;
  void writeWide(const wchar_t* text) override;
  // Converts to UTF-8, cut at a whole character; characters listed by
  // failConversionOf make it fail.
  bool wideToOem(const wchar_t* text, char* destination, size_t capacity) override;

  std::vector<Entry> entries() const;
  // The narrow entries only, in order.
  std::vector<std::string> narrowLines() const;
  void clear();
  void failConversionOf(wchar_t c) { failOn_ = c; }
  // Every write and conversion from now on throws std::bad_alloc (as a failed
  // allocation in a real output would), or stops throwing.
  void throwOnUse(bool on) { throwing_ = on; }

 private:
  void record(Entry entry);

  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
  wchar_t failOn_ = 0;
  std::atomic<bool> throwing_{false};
};

// A clock that stands still until the test moves it; sleeping advances it.
class SimClock : public port::ClockPort {
 public:
  port::LocalTime localTime() override;
  uint64_t systemTimeAsFileTime() override;
  uint64_t monotonicMs() override;
  void sleepMs(DWORD ms) override;

  void setLocalTime(int hour, int minute, int second);
  void advanceMs(uint64_t ms);

 private:
  mutable std::mutex mutex_;
  port::LocalTime local_{2026, 1, 1, 9, 5, 7, 0};
  uint64_t monotonic_ = 0;
};

struct SimPlatform {
  SimRegistry registry;
  SimDebugOutput debugOutput;
  SimClock clock;
  SimRadio radio;
  SimBus bus;
  SimRfcomm rfcomm;
  SimXmlDom xmlDom;
  SimNotification notification{clock};
  SimShell shell;
  SimModules modules;
  SimDialup dialup{notification};
  SimCredentials credentials;

  // Makes this the platform the library logic uses.
  void install();
};

}  // namespace utils::sim
