// A library-owned thread that waits on a set of descriptors with poll and runs
// what its client does with them, plus tasks handed to it from other threads.
// It is the Linux stand-in for a window thread: everything its client does
// happens on this one thread, in order.
#pragma once

#include <poll.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "utils/wintypes.h"

namespace utils::linuxport {

class EventThread {
 public:
  // What the thread serves; called on the thread only.
  class Client {
   public:
    virtual ~Client() = default;
    // Appends the descriptors to wait on and lowers *timeoutMs (-1: no limit)
    // when a wake-up is due sooner.
    virtual void preparePoll(std::vector<pollfd>* fds, int* timeoutMs) = 0;
    // After each wait: the entries that preparePoll appended, with their results.
    virtual void afterPoll(const pollfd* fds, size_t count) = 0;
  };

  // The thread keeps itself (and so its client, which the owner keeps alive
  // beside it) alive until it ends.
  static DWORD start(std::shared_ptr<Client> client, std::shared_ptr<EventThread>* thread);
  ~EventThread();
  EventThread(const EventThread&) = delete;
  EventThread& operator=(const EventThread&) = delete;

  // Runs task on the thread and waits for it; on the thread itself, runs it at once.
  void run(const std::function<void()>& task);

  // Queues task to run on the thread after what is queued already, and returns
  // at once. Dropped when the thread is ending.
  void post(std::function<void()> task);

  // Ends the thread. From another thread: returns once it has ended. From the
  // thread itself: it ends when the current turn is over.
  void stop();

  bool onThread() const { return std::this_thread::get_id() == thread_.get_id(); }

 private:
  explicit EventThread(std::shared_ptr<Client> client, int wakeFd);
  void loop(std::shared_ptr<EventThread> self);
  void runTasks();
  void wake();

  std::shared_ptr<Client> client_;
  int wakeFd_ = -1;  // eventfd: tasks or a stop are waiting
  std::thread thread_;

  std::mutex mutex_;
  std::condition_variable done_;
  std::deque<std::function<void()>> tasks_;
  unsigned long long tasksDone_ = 0;
  unsigned long long tasksQueued_ = 0;
  bool stopping_ = false;
};

}  // namespace utils::linuxport
