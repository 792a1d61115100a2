// The sources of a Linux message window: the Bluetooth daemon's changes
// (BluezWatch) and vrlbusd's vendor events (BusEventSubscription), read on a
// thread of their own that never runs a handler. Two sockets share no clock,
// so the order in which their events happened is only kept by reading each one
// as soon as it arrives: a handler busy with one event must not leave the
// events behind it in the sockets, to be read later source by source. Each
// event read is handed on at once, in reading order, to the window's thread.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "port/linux/bluez_watch.h"
#include "port/linux/bus_events.h"
#include "port/linux/event_thread.h"

namespace utils::linuxport {

// One event of either source.
struct SourceEvent {
  bool isVendorEvent = false;
  BluezChange change;              // from the Bluetooth daemon
  std::vector<BYTE> vendorRecord;  // a vendor event: the data field of its record
};

class WindowSources : public EventThread::Client {
 public:
  // Events handed on and not yet delivered: reading pauses while this many
  // wait, so a handler that does not return holds a bounded backlog (the rest
  // stays with the sources, which bound it themselves).
  static constexpr size_t kMostWaiting = 1024;

  // sink runs on the reading thread for each event, in order. backlog is the
  // number waiting: the sink raises it, the window lowers it as it delivers.
  using Sink = std::function<void(SourceEvent)>;
  WindowSources(Sink sink, std::shared_ptr<std::atomic<size_t>> backlog)
      : sink_(std::move(sink)), backlog_(std::move(backlog)) {}

  // Which sources the window's registrations need; opens the missing ones at
  // once (at most once a second each) and closes the unneeded. Reading thread only.
  void setNeeds(bool bluez, bool vendorEvents);

  void preparePoll(std::vector<pollfd>* fds, int* timeoutMs) override;
  void afterPoll(const pollfd* fds, size_t count) override;

 private:
  using Clock = std::chrono::steady_clock;
  bool paused() const { return backlog_->load() >= kMostWaiting; }
  void openSources();
  void readWatch();
  void readVendorEvents();

  Sink sink_;
  std::shared_ptr<std::atomic<size_t>> backlog_;
  bool needsBluez_ = false;
  bool needsVendorEvents_ = false;
  std::unique_ptr<BluezWatch> watch_;
  std::unique_ptr<BusEventSubscription> events_;
  Clock::time_point nextWatchTry_{};
  Clock::time_point nextEventsTry_{};
  // Frames may wait in the subscription's own buffer, where poll cannot see
  // them: read in with the reply to the subscription, or left there by a pause.
  bool vendorUnread_ = false;
  size_t watchIndex_ = SIZE_MAX;
  size_t eventsIndex_ = SIZE_MAX;
};

}  // namespace utils::linuxport
