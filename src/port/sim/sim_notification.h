// A simulated message window, device notifications, wake events and threads.
// Device changes are posted by the test and delivered by pump() on the test's
// own thread, in order, to the windows registered for them. Wake events wait in
// the virtual time of a SimClock: advance() moves it and settle() returns once
// every thread started here is blocked in a wait that has not ended, or has
// finished, so a test steps a polling thread one wake-up at a time.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "port/notification_port.h"

namespace utils::sim {

class SimClock;

class SimNotification : public port::NotificationPort {
 public:
  explicit SimNotification(SimClock& clock) : clock_(clock) {}
  ~SimNotification() override;

  DWORD createWindow(const wchar_t* className, port::MessageWindowHandler* handler, HWND* window) override;
  DWORD destroyWindow(HWND window) override;
  UINT registerMessage(const char* name) override;
  DWORD registerInterfaceNotification(HWND window, const GUID& interfaceClass, HDEVNOTIFY* registration) override;
  DWORD registerHandleNotification(HWND window, HANDLE radio, HDEVNOTIFY* registration) override;
  DWORD unregisterNotification(HDEVNOTIFY registration) override;
  DWORD createWakeEvent(std::unique_ptr<port::WakeEvent>* event) override;
  DWORD startThread(std::function<void()> entry, std::unique_ptr<port::WorkerThread>* thread) override;
  // A held window's messages stay queued, in order, until it is released; a
  // pump delivers the other windows' messages past them.
  DWORD holdMessages(HWND window) override;
  DWORD releaseMessages(HWND window) override;

  // Test controls: posting. Each goes to the registrations present now.
  void postRadioArrival();
  void postRadioRemoval();
  // A GUID_BLUETOOTH_HCI_EVENT to every handle registration.
  void postConnection(ULONGLONG address, BYTE connectionType, bool connected);
  // A GUID_BLUETOOTH_HCI_VENDOR_EVENT with this data field (see vendorEventData).
  void postVendorData(std::vector<BYTE> data);
  // A signal event (sub-event 0x8E) with status, address and signal, as a radio sends it.
  void postSignalEvent(BYTE status, ULONGLONG address, int8_t dbm);
  // Any record to every window, with no registration behind it (null record: none).
  void postToWindows(DWORD event, std::optional<port::DeviceBroadcast> record);
  // A registered message (such as dial progress) to one window.
  void postMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  // Delivers the posted messages in order; returns how many reached a handler.
  // What other threads post while it runs (a polling thread woken by one of
  // these messages, say) waits for the next pump, so what a pump delivers does
  // not depend on how far those threads got meanwhile. What the pumping thread
  // itself posts (from a handler or a callback) is delivered by this pump.
  size_t pump();

  // Test controls: virtual time and threads.
  // Moves the clock on and settles.
  bool advance(uint64_t ms);
  // Waits (in real time, at most 10 s) until every thread is idle; false if not.
  bool settle();
  // Wake-ups: how many waits have ended, and the threads started and finished.
  size_t waitsEnded() const;
  size_t threadsStarted() const;
  size_t threadsRunning() const;

  // What the simulation knows of each thread it started (internal).
  struct ThreadRecord;

  // Test controls: failures and inspection.
  void failCreateWindow(DWORD error) { createWindowError_ = error; }
  void failHandleRegistration(DWORD error) { handleRegistrationError_ = error; }
  // Runs hook (on the registering thread) after each registration is made, with
  // whether it is a handle registration: to post what arrives in the middle of set-up.
  void onRegistration(std::function<void(bool isHandle)> hook);
  size_t windowCount() const;
  size_t registrationCount() const;
  // The radio handles registered so far, in order (also those since ended).
  std::vector<HANDLE> registeredRadios() const;
  // The class names of the windows created so far.
  std::vector<std::wstring> windowClasses() const;

 private:
  struct Registration {
    HWND window = nullptr;
    bool isHandle = false;
    GUID interfaceClass{};
  };
  struct Posted {
    HWND window = nullptr;
    HDEVNOTIFY registration = nullptr;  // null: not tied to one
    DWORD event = 0;
    std::optional<port::DeviceBroadcast> record;
    uint64_t sequence = 0;   // order of posting
    std::thread::id poster;  // the thread that posted it
    bool isMessage = false;  // a registered message: event is its number
    WPARAM wParam = 0;
    LPARAM lParam = 0;
  };
  class Event;
  class Thread;
  friend class Event;
  friend class Thread;

  void postToHandleRegistrations(const port::DeviceBroadcast& record);
  void enqueueLocked(HWND window, HDEVNOTIFY registration, DWORD event, std::optional<port::DeviceBroadcast> record);
  bool idleLocked() const;
  uint64_t now() const;

  SimClock& clock_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<HWND, port::MessageWindowHandler*> windows_;
  std::set<HWND> held_;
  std::function<void(bool)> registrationHook_;
  std::map<HDEVNOTIFY, Registration> registrations_;
  std::deque<Posted> queue_;
  uint64_t nextSequence_ = 0;
  std::vector<HANDLE> registeredRadios_;
  std::vector<std::wstring> windowClasses_;
  std::map<std::string, UINT> messages_;
  std::vector<std::shared_ptr<ThreadRecord>> threads_;
  size_t waitsEnded_ = 0;
  uintptr_t nextHandle_ = 0x7000;
  DWORD createWindowError_ = 0;
  DWORD handleRegistrationError_ = 0;
};

}  // namespace utils::sim
