// Follows NetworkManager's active connections for the dial-up adapter: on an
// event thread of its own with a bus connection of its own, it turns the state
// changes of the connections it tracks (StateChanged and PropertiesChanged of
// the active connection, its device reaching the configuration stage, the
// object going away, NetworkManager leaving the bus) into dial progress for a
// dial's window and into the signals of connection notifications, and keeps
// each connection's last state for status reads.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "port/linux/event_thread.h"

typedef struct sd_bus sd_bus;
typedef struct sd_bus_message sd_bus_message;

namespace utils::linuxport {

class DunWatch : public EventThread::Client {
 public:
  // Dial progress for a window: the connection state and the error.
  using Post = std::function<void(HWND window, DWORD state, DWORD error)>;
  // Signals an event of a connection notification.
  using Signal = std::function<void(HANDLE event)>;

  DunWatch(Post post, Signal signal) : post_(std::move(post)), signal_(std::move(signal)) {}
  ~DunWatch() override;
  DunWatch(const DunWatch&) = delete;
  DunWatch& operator=(const DunWatch&) = delete;

  // Connects to the system bus and asks for the signals; before the thread
  // starts. Returns 0 or the error.
  DWORD open();

  // The calls below run on the watch's thread (EventThread::run).
  // Tracks the active connection at path under handle, reading its present
  // state; a dial's progress goes to notifier (null: none).
  void track(const std::string& path, HANDLE handle, HWND notifier);
  bool tracks(HANDLE handle) const;
  // Signals event on the connection's changes as flags (kRasNotify*) ask.
  // ERROR_INVALID_HANDLE when the connection is gone or not tracked.
  DWORD notify(HANDLE handle, HANDLE event, DWORD flags);

  // Any thread: the connection's status as a RASCONNSTATE. 0 with *state,
  // ERROR_INVALID_HANDLE when it is gone, ERROR_NOT_FOUND when not tracked.
  DWORD status(HANDLE handle, DWORD* state) const;

  void preparePoll(std::vector<pollfd>* fds, int* timeoutMs) override;
  void afterPoll(const pollfd* fds, size_t count) override;

  // Used by the signal handlers.
  void onActiveState(const std::string& path, uint32_t state, uint32_t reason);
  void onDeviceState(const std::string& path, uint32_t state);
  void onRemoved(const std::string& path);
  void onServiceGone();

 private:
  struct Tracked {
    std::string path;
    HWND notifier = nullptr;
    uint32_t state = 0;   // NetworkManager's active connection state
    bool linkUp = false;  // the device reached the configuration stage
    bool gone = false;
    std::vector<std::string> devices;
    std::vector<std::pair<HANDLE, DWORD>> events;
  };

  // With mutex_ held.
  void apply(Tracked& tracked, uint32_t state, uint32_t reason);
  void reachLink(Tracked& tracked);
  void end(Tracked& tracked, DWORD error);
  void post(const Tracked& tracked, DWORD state, DWORD error);
  void signal(const Tracked& tracked, DWORD flag);
  Tracked* byPath(const std::string& path);
  void dropBus();

  Post post_;
  Signal signal_;
  sd_bus* bus_ = nullptr;  // the thread's
  mutable std::mutex mutex_;
  std::map<HANDLE, Tracked> tracked_;
};

// The error of a dial that ended with NetworkManager's state reason.
DWORD dialErrorOfReason(uint32_t reason);

}  // namespace utils::linuxport
