#include "port/linux/notification_wake.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace utils::linuxport {
namespace {

class LinuxWakeEvent : public port::WakeEvent {
 public:
  void signal() override {
    {
      std::lock_guard lock(mutex_);
      signalled_ = true;
    }
    changed_.notify_one();
  }

  DWORD wait(DWORD ms) override {
    std::unique_lock lock(mutex_);
    const auto isSignalled = [this] { return signalled_; };
    if (ms == INFINITE) {
      changed_.wait(lock, isSignalled);
    } else if (!changed_.wait_for(lock, std::chrono::milliseconds(ms), isSignalled)) {
      return WAIT_TIMEOUT;
    }
    signalled_ = false;  // auto-reset
    return WAIT_OBJECT_0;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool signalled_ = false;
};

class LinuxWorkerThread : public port::WorkerThread {
 public:
  explicit LinuxWorkerThread(std::thread thread) : thread_(std::move(thread)) {}
  ~LinuxWorkerThread() override {
    if (thread_.joinable()) thread_.detach();
  }
  void join() override {
    if (thread_.joinable() && !isCurrent()) thread_.join();
  }
  bool isCurrent() const override { return thread_.get_id() == std::this_thread::get_id(); }

 private:
  std::thread thread_;
};

}  // namespace

DWORD createLinuxWakeEvent(std::unique_ptr<port::WakeEvent>* event) {
  *event = std::make_unique<LinuxWakeEvent>();
  return 0;
}

DWORD startLinuxThread(std::function<void()> entry, std::unique_ptr<port::WorkerThread>* thread) {
  try {
    *thread = std::make_unique<LinuxWorkerThread>(std::thread(std::move(entry)));
  } catch (const std::system_error&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  return 0;
}

}  // namespace utils::linuxport
