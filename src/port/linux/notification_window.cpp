#include "port/linux/notification_window.h"

#include <deque>
#include <vector>

#include "port/linux/event_thread.h"
#include "port/linux/notification_sources.h"
#include "port/linux/notification_wake.h"
#include "port/linux/radio_handles.h"

namespace utils::linuxport {

struct LinuxNotification::Registration {
  bool isHandle = false;
  GUID interfaceClass{};    // interface registrations
  std::string adapterPath;  // handle registrations: the radio's adapter
};

namespace {
constexpr DWORD kErrorInvalidWindowHandle = 1400;
}  // namespace

// A window: its handler runs on the window's event thread, which takes the
// registrations' changes and delivers, one at a time and in the order they were
// read, the events that its sources' thread (WindowSources) hands it and the
// messages posted to it.
class LinuxNotification::Window : public EventThread::Client {
 public:
  Window(port::MessageWindowHandler* handler, std::shared_ptr<std::atomic<uint64_t>> eventsRead)
      : handler_(handler), eventsRead_(std::move(eventsRead)) {}

  // Starts both threads.
  static DWORD start(port::MessageWindowHandler* handler, std::shared_ptr<std::atomic<uint64_t>> eventsRead,
                     std::shared_ptr<Window>* window) {
    auto created = std::make_shared<Window>(handler, std::move(eventsRead));
    std::weak_ptr<Window> weak = created;
    created->sources_ = std::make_shared<WindowSources>(
        [weak](SourceEvent event) {
          if (auto alive = weak.lock()) alive->handOver(weak, std::move(event));
        },
        created->backlog_);
    if (const DWORD error = EventThread::start(created, &created->thread); error != 0) return error;
    if (const DWORD error = EventThread::start(created->sources_, &created->reader); error != 0) {
      created->thread->stop();
      return error;
    }
    *window = std::move(created);
    return 0;
  }

  // Both set by start, before any other use.
  std::shared_ptr<EventThread> thread;  // the window's thread: runs the handler
  std::shared_ptr<EventThread> reader;  // reads the sources

  // Ends both threads; from any thread (on the window's own: when this turn is over).
  void stopThreads() {
    reader->stop();
    thread->stop();
  }

  // The members below run on the window's thread only.
  void add(HDEVNOTIFY handle, const Registration& registration) {
    registrations_[handle] = registration;
    updateSources();
  }
  bool remove(HDEVNOTIFY handle) {
    const bool removed = registrations_.erase(handle) == 1;
    updateSources();
    return removed;
  }
  void close() {
    closed_ = true;
    registrations_.clear();
    held_.clear();
  }
  void hold() { holding_ = true; }
  void release() {
    holding_ = false;
    while (!holding_ && !closed_ && !held_.empty()) {
      auto delivery = std::move(held_.front());
      held_.pop_front();
      delivery();
    }
  }
  void deliverMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    whenFree([this, message, wParam, lParam] {
      if (!closed_) handler_->onMessage(message, wParam, lParam);
    });
  }

  void preparePoll(std::vector<pollfd>*, int*) override {}
  void afterPoll(const pollfd*, size_t) override {}

 private:
  // On the sources' thread: hands the event to the window's thread.
  void handOver(std::weak_ptr<Window> weak, SourceEvent event) {
    backlog_->fetch_add(1);
    eventsRead_->fetch_add(1);
    thread->post([weak, event = std::move(event)]() mutable {
      if (auto alive = weak.lock()) alive->whenFree([alive, event = std::move(event)] { alive->deliverSource(event); });
    });
  }

  // Runs delivery now, or once the window is released when it is held.
  void whenFree(std::function<void()> delivery) {
    if (holding_) {
      held_.push_back(std::move(delivery));
    } else {
      delivery();
    }
  }

  void deliverSource(const SourceEvent& event) {
    // The sources' thread pauses while the backlog is full: one delivered
    // makes room, and it is woken to read on.
    if (backlog_->fetch_sub(1) == WindowSources::kMostWaiting) reader->post([] {});
    if (closed_) return;
    if (event.isVendorEvent) {
      const port::DeviceBroadcast record{port::kDbtDevTypeHandle, port::kGuidBluetoothHciVendorEvent,
                                         event.vendorRecord};
      deliver(port::kDbtCustomEvent, record, [](const Registration& registration) { return registration.isHandle; });
      return;
    }
    const BluezChange& change = event.change;
    if (change.kind == BluezChange::Kind::kConnection) {
      const port::DeviceBroadcast record{
          port::kDbtDevTypeHandle, port::kGuidBluetoothHciEvent,
          port::hciEventInfoData(change.address, port::kHciConnectionTypeAcl, change.connected)};
      deliver(port::kDbtCustomEvent, record, [&change](const Registration& registration) {
        return registration.isHandle && change.path.starts_with(registration.adapterPath + "/");
      });
    } else {
      const DWORD code =
          change.kind == BluezChange::Kind::kAdapterAdded ? port::kDbtDeviceArrival : port::kDbtDeviceRemoveComplete;
      const port::DeviceBroadcast record{port::kDbtDevTypeDeviceInterface, port::kGuidBthportDeviceInterface, {}};
      deliver(code, record, [](const Registration& registration) {
        return !registration.isHandle && port::sameGuid(registration.interfaceClass, port::kGuidBthportDeviceInterface);
      });
    }
  }

  // Tells the sources' thread what the registrations need now; it opens a
  // missing source before this returns, so that nothing after a registration
  // is missed.
  void updateSources() {
    bool bluez = !registrations_.empty();
    bool vendorEvents = false;
    for (const auto& [handle, registration] : registrations_) vendorEvents = vendorEvents || registration.isHandle;
    std::shared_ptr<WindowSources> sources = sources_;
    reader->run([sources, bluez, vendorEvents] { sources->setNeeds(bluez, vendorEvents); });
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
  std::shared_ptr<std::atomic<uint64_t>> eventsRead_;
  std::shared_ptr<std::atomic<size_t>> backlog_ = std::make_shared<std::atomic<size_t>>(0);
  std::shared_ptr<WindowSources> sources_;
  bool closed_ = false;
  bool holding_ = false;
  std::deque<std::function<void()>> held_;  // deliveries waiting for release
  std::map<HDEVNOTIFY, Registration> registrations_;
};

LinuxNotification::LinuxNotification(AdapterPathOf adapterPathOf) : adapterPathOf_(std::move(adapterPathOf)) {}

LinuxNotification::~LinuxNotification() {
  // Windows still open at process end: their threads are told to end; they hold
  // what they use themselves.
  std::lock_guard lock(mutex_);
  for (auto& [handle, window] : windows_) window->stopThreads();
}

DWORD LinuxNotification::createWindow(const wchar_t* className, port::MessageWindowHandler* handler, HWND* window) {
  *window = nullptr;
  if (className == nullptr || handler == nullptr) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<Window> created;
  if (const DWORD error = Window::start(handler, eventsRead_, &created); error != 0) return error;
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
  found->thread->run([&found] { found->close(); });
  found->stopThreads();
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

std::shared_ptr<LinuxNotification::Window> LinuxNotification::findWindow(HWND window) {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(window);
  return it == windows_.end() ? nullptr : it->second;
}

DWORD LinuxNotification::holdMessages(HWND window) {
  std::shared_ptr<Window> target = findWindow(window);
  if (!target) return ERROR_INVALID_HANDLE;
  target->thread->run([&target] { target->hold(); });
  return 0;
}

DWORD LinuxNotification::releaseMessages(HWND window) {
  std::shared_ptr<Window> target = findWindow(window);
  if (!target) return ERROR_INVALID_HANDLE;
  // Delivered on the window's thread after this returns, ahead of what comes next.
  target->thread->post([target] { target->release(); });
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
