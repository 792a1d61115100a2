#include "port/linux/notification_sources.h"

namespace utils::linuxport {
namespace {

constexpr auto kRetryEvery = std::chrono::seconds(1);

int msUntil(std::chrono::steady_clock::time_point when) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(when - std::chrono::steady_clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(left);
}

void lowerTimeout(int* timeoutMs, int candidate) {
  if (candidate >= 0 && (*timeoutMs < 0 || candidate < *timeoutMs)) *timeoutMs = candidate;
}

}  // namespace

void WindowSources::setNeeds(bool bluez, bool vendorEvents) {
  needsBluez_ = bluez;
  needsVendorEvents_ = vendorEvents;
  if (!needsBluez_) watch_.reset();
  if (!needsVendorEvents_) events_.reset();
  openSources();
}

void WindowSources::openSources() {
  const auto now = Clock::now();
  if (!watch_ && needsBluez_ && now >= nextWatchTry_) {
    nextWatchTry_ = now + kRetryEvery;
    if (BluezWatch::open(&watch_) < 0) watch_.reset();
  }
  if (!events_ && needsVendorEvents_ && now >= nextEventsTry_) {
    nextEventsTry_ = now + kRetryEvery;
    if (BusEventSubscription::open(&events_) != 0) events_.reset();
    vendorUnread_ = events_ != nullptr;
  }
}

void WindowSources::preparePoll(std::vector<pollfd>* fds, int* timeoutMs) {
  watchIndex_ = eventsIndex_ = SIZE_MAX;
  // While the window has its fill, nothing is read: the window wakes this
  // thread when it has delivered one.
  if (paused()) return;
  if (watch_) {
    watchIndex_ = fds->size() - 1;
    fds->push_back(pollfd{watch_->fd(), watch_->events(), 0});
    lowerTimeout(timeoutMs, watch_->timeoutMs());
  } else if (needsBluez_) {
    lowerTimeout(timeoutMs, msUntil(nextWatchTry_));
  }
  if (events_) {
    eventsIndex_ = fds->size() - 1;
    fds->push_back(pollfd{events_->fd(), POLLIN, 0});
    if (vendorUnread_) lowerTimeout(timeoutMs, 0);
  } else if (needsVendorEvents_) {
    lowerTimeout(timeoutMs, msUntil(nextEventsTry_));
  }
}

void WindowSources::afterPoll(const pollfd* fds, size_t count) {
  // sd-bus may hold messages already read (its timeout is then 0): it is asked
  // every turn, not only when its descriptor is readable. A task run since the
  // wait may have closed a source.
  if (watch_ && watchIndex_ < count) readWatch();
  if (events_ && eventsIndex_ < count && (fds[eventsIndex_].revents != 0 || vendorUnread_)) readVendorEvents();
  openSources();
}

void WindowSources::readWatch() {
  std::vector<BluezChange> changes;
  const size_t room = paused() ? 0 : kMostWaiting - backlog_->load();
  if (watch_->process(&changes, room) < 0) watch_.reset();  // the bus went away: connect again later
  for (auto& change : changes) sink_(SourceEvent{false, std::move(change), {}});
}

void WindowSources::readVendorEvents() {
  std::vector<BYTE> event;
  vendorUnread_ = true;  // until the subscription says nothing more is there
  while (events_ && !paused()) {
    const DWORD error = events_->next(&event);
    if (error == ERROR_NO_MORE_ITEMS) {
      vendorUnread_ = false;
      return;
    }
    if (error != 0) {  // vrlbusd went away or broke the stream: subscribe again later
      events_.reset();
      vendorUnread_ = false;
      return;
    }
    std::vector<BYTE> record = vendorEventRecordData(event);
    if (!record.empty()) sink_(SourceEvent{true, {}, std::move(record)});
  }
}

}  // namespace utils::linuxport
