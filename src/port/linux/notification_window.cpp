#include "port/linux/notification_window.h"

#include <chrono>
#include <vector>

#include "port/linux/bluez_watch.h"
#include "port/linux/bus_events.h"
#include "port/linux/event_thread.h"
#include "port/linux/notification_wake.h"
#include "port/linux/radio_handles.h"

namespace utils::linuxport {

struct LinuxNotification::Registration {
  bool isHandle = false;
  GUID interfaceClass{};    // interface registrations
  std::string adapterPath;  // handle registrations: the radio's adapter
};

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRetryEvery = std::chrono::seconds(1);
constexpr DWORD kErrorInvalidWindowHandle = 1400;

int msUntil(Clock::time_point when) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(left);
}

void lowerTimeout(int* timeoutMs, int candidate) {
  if (candidate >= 0 && (*timeoutMs < 0 || candidate < *timeoutMs)) *timeoutMs = candidate;
}

}  // namespace

class LinuxNotification::Window : public EventThread::Client {
 public:
  explicit Window(port::MessageWindowHandler* handler) : handler_(handler) {}

  std::shared_ptr<EventThread> thread;  // set once started, before any other use

  // The members below run on the window's thread only.
  void add(HDEVNOTIFY handle, const Registration& registration) {
    registrations_[handle] = registration;
    openSources();
  }
  bool remove(HDEVNOTIFY handle) {
    const bool removed = registrations_.erase(handle) == 1;
    if (!needsBusEvents()) events_.reset();
    if (registrations_.empty()) watch_.reset();
    return removed;
  }
  void close() {
    closed_ = true;
    registrations_.clear();
  }
  void deliverMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (!closed_) handler_->onMessage(message, wParam, lParam);
  }

  void preparePoll(std::vector<pollfd>* fds, int* timeoutMs) override {
    watchIndex_ = eventsIndex_ = SIZE_MAX;
    if (watch_) {
      watchIndex_ = fds->size() - 1;
      fds->push_back(pollfd{watch_->fd(), watch_->events(), 0});
      lowerTimeout(timeoutMs, watch_->timeoutMs());
    } else if (!registrations_.empty()) {
      lowerTimeout(timeoutMs, msUntil(nextWatchTry_));
    }
    if (events_) {
      eventsIndex_ = fds->size() - 1;
      fds->push_back(pollfd{events_->fd(), POLLIN, 0});
    } else if (needsBusEvents()) {
      lowerTimeout(timeoutMs, msUntil(nextEventsTry_));
    }
  }

  void afterPoll(const pollfd* fds, size_t count) override {
    // sd-bus may hold messages already read (its timeout is then 0): it is
    // asked every turn, not only when its descriptor is readable.
    // A task run since the wait may have closed a source.
    if (watch_ && watchIndex_ < count) readWatch();
    if (events_ && eventsIndex_ < count && fds[eventsIndex_].revents != 0) readBusEvents();
    openSources();
  }

 private:
  bool needsBusEvents() const {
    for (const auto& [handle, registration] : registrations_) {
      if (registration.isHandle) return true;
    }
    return false;
  }

  // Opens the sources that the registrations need and that are missing, at
  // most once a second each.
  void openSources() {
    const auto now = Clock::now();
    if (!watch_ && !registrations_.empty() && now >= nextWatchTry_) {
      nextWatchTry_ = now + kRetryEvery;
      if (BluezWatch::open(&watch_) < 0) watch_.reset();
    }
    if (!events_ && needsBusEvents() && now >= nextEventsTry_) {
      nextEventsTry_ = now + kRetryEvery;
      if (BusEventSubscription::open(&events_) != 0) events_.reset();
    }
  }

  void readWatch() {
    std::vector<BluezChange> changes;
    if (watch_->process(&changes) < 0) watch_.reset();  // the bus went away: connect again later
    for (const auto& change : changes) {
      if (change.kind == BluezChange::Kind::kConnection) {
        const port::DeviceBroadcast record{
            port::kDbtDevTypeHandle, port::kGuidBluetoothHciEvent,
            port::hciEventInfoData(change.address, port::kHciConnectionTypeAcl, change.connected)};
        deliver(port::kDbtCustomEvent, record, [&change](const Registration& registration) {
          return registration.isHandle && change.path.starts_with(registration.adapterPath + "/");
        });
      } else {
        const DWORD event =
            change.kind == BluezChange::Kind::kAdapterAdded ? port::kDbtDeviceArrival : port::kDbtDeviceRemoveComplete;
        const port::DeviceBroadcast record{port::kDbtDevTypeDeviceInterface, port::kGuidBthportDeviceInterface, {}};
        deliver(event, record, [](const Registration& registration) {
          return !registration.isHandle &&
                 port::sameGuid(registration.interfaceClass, port::kGuidBthportDeviceInterface);
        });
      }
    }
  }

  void readBusEvents() {
    std::vector<BYTE> event;
    for (;;) {
      if (!events_) return;  // a handler ended the last handle registration
      const DWORD error = events_->next(&event);
      if (error == ERROR_NO_MORE_ITEMS) return;
      if (error != 0) {  // vrlbusd went away or broke the stream: subscribe again later
        events_.reset();
        return;
      }
      const port::DeviceBroadcast record{port::kDbtDevTypeHandle, port::kGuidBluetoothHciVendorEvent,
                                         vendorEventRecordData(event)};
      if (record.data.empty()) continue;
      deliver(port::kDbtCustomEvent, record, [](const Registration& registration) { return registration.isHandle; });
    }
  }

  // Hands the record to the handler once for each registration that wants it
  // and is still there when its turn comes.
  template <class Wants>
  void deliver(DWORD event, const port::DeviceBroadcast& record, Wants wants) {
    std::vector<HDEVNOTIFY> targets;
    for (const auto& [handle, registration] : registrations_) {
      if (wants(registration)) targets.push_back(handle);
    }
    for (HDEVNOTIFY handle : targets) {
      if (closed_) return;
      if (registrations_.count(handle) == 0) continue;
      handler_->onDeviceChange(event, &record);
    }
  }

  port::MessageWindowHandler* handler_;
  bool closed_ = false;
  std::map<HDEVNOTIFY, Registration> registrations_;
  std::unique_ptr<BluezWatch> watch_;
  std::unique_ptr<BusEventSubscription> events_;
  Clock::time_point nextWatchTry_{};
  Clock::time_point nextEventsTry_{};
  size_t watchIndex_ = SIZE_MAX;
  size_t eventsIndex_ = SIZE_MAX;
};

LinuxNotification::LinuxNotification(AdapterPathOf adapterPathOf) : adapterPathOf_(std::move(adapterPathOf)) {}

LinuxNotification::~LinuxNotification() {
  // Windows still open at process end: their threads are told to end; they hold
  // what they use themselves.
  std::lock_guard lock(mutex_);
  for (auto& [handle, window] : windows_) window->thread->stop();
}

DWORD LinuxNotification::createWindow(const wchar_t* className, port::MessageWindowHandler* handler, HWND* window) {
  *window = nullptr;
  if (className == nullptr || handler == nullptr) return ERROR_INVALID_PARAMETER;
  auto created = std::make_shared<Window>(handler);
  if (const DWORD error = EventThread::start(created, &created->thread); error != 0) return error;
  const HWND handle = reinterpret_cast<HWND>(nextHandleValue());
  std::lock_guard lock(mutex_);
  windows_[handle] = std::move(created);
  *window = handle;
  return 0;
}

DWORD LinuxNotification::destroyWindow(HWND window) {
  std::shared_ptr<Window> found;
  {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(window);
    if (it == windows_.end()) return ERROR_INVALID_HANDLE;
    found = std::move(it->second);
    windows_.erase(it);
    std::erase_if(owners_, [window](const auto& entry) { return entry.second == window; });
  }
  std::shared_ptr<EventThread> thread = found->thread;
  thread->run([&found] { found->close(); });
  thread->stop();
  return 0;
}

UINT LinuxNotification::registerMessage(const char* name) {
  if (name == nullptr || *name == '\0') return 0;
  std::lock_guard lock(mutex_);
  // Registered message numbers lie in 0xC000-0xFFFF, as on Windows.
  auto [it, added] = messages_.emplace(name, static_cast<UINT>(0xC000 + messages_.size()));
  return it->second <= 0xFFFF ? it->second : 0;
}

DWORD LinuxNotification::addRegistration(HWND window, const Registration& registration, HDEVNOTIFY* handle) {
  *handle = nullptr;
  std::shared_ptr<Window> target;
  {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(window);
    if (it == windows_.end()) return ERROR_INVALID_HANDLE;
    target = it->second;
  }
  const HDEVNOTIFY created = nextHandleValue();
  bool added = false;
  target->thread->run([&] {
    target->add(created, registration);
    added = true;
  });
  if (!added) return ERROR_INVALID_HANDLE;  // the window is being destroyed
  std::lock_guard lock(mutex_);
  owners_[created] = window;
  *handle = created;
  return 0;
}

DWORD LinuxNotification::registerInterfaceNotification(HWND window, const GUID& interfaceClass,
                                                       HDEVNOTIFY* registration) {
  return addRegistration(window, Registration{false, interfaceClass, {}}, registration);
}

DWORD LinuxNotification::registerHandleNotification(HWND window, HANDLE radio, HDEVNOTIFY* registration) {
  *registration = nullptr;
  const std::string adapterPath = adapterPathOf_ ? adapterPathOf_(radio) : std::string();
  if (adapterPath.empty()) return ERROR_INVALID_HANDLE;
  return addRegistration(window, Registration{true, {}, adapterPath}, registration);
}

DWORD LinuxNotification::unregisterNotification(HDEVNOTIFY registration) {
  std::shared_ptr<Window> target;
  {
    std::lock_guard lock(mutex_);
    auto owner = owners_.find(registration);
    if (owner == owners_.end()) return ERROR_INVALID_HANDLE;
    auto window = windows_.find(owner->second);
    owners_.erase(owner);
    if (window == windows_.end()) return ERROR_INVALID_HANDLE;
    target = window->second;
  }
  target->thread->run([&] { target->remove(registration); });
  return 0;
}

DWORD LinuxNotification::createWakeEvent(std::unique_ptr<port::WakeEvent>* event) {
  return createLinuxWakeEvent(event);
}

DWORD LinuxNotification::startThread(std::function<void()> entry, std::unique_ptr<port::WorkerThread>* thread) {
  return startLinuxThread(std::move(entry), thread);
}

DWORD LinuxNotification::postMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<Window> target;
  {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(window);
    if (it == windows_.end()) return kErrorInvalidWindowHandle;
    target = it->second;
  }
  // Weak: a message still queued when the window ends must not keep it alive.
  std::weak_ptr<Window> weak = target;
  target->thread->post([weak, message, wParam, lParam] {
    if (auto alive = weak.lock()) alive->deliverMessage(message, wParam, lParam);
  });
  return 0;
}

}  // namespace utils::linuxport
