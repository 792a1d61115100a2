#include "port/linux/event_thread.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

namespace utils::linuxport {

DWORD EventThread::start(std::shared_ptr<Client> client, std::shared_ptr<EventThread>* thread) {
  const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd < 0) return ERROR_NOT_ENOUGH_MEMORY;
  std::shared_ptr<EventThread> created(new EventThread(std::move(client), wakeFd));
  try {
    created->thread_ = std::thread(&EventThread::loop, created.get(), created);
  } catch (const std::system_error&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  *thread = std::move(created);
  return 0;
}

EventThread::EventThread(std::shared_ptr<Client> client, int wakeFd) : client_(std::move(client)), wakeFd_(wakeFd) {}

EventThread::~EventThread() {
  // The last owner is either a joiner (the thread has ended) or the thread itself.
  if (thread_.joinable()) thread_.detach();
  ::close(wakeFd_);
}

void EventThread::wake() {
  const uint64_t one = 1;
  while (::write(wakeFd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void EventThread::run(const std::function<void()>& task) {
  if (onThread()) {
    task();
    return;
  }
  std::unique_lock lock(mutex_);
  if (stopping_) return;
  tasks_.push_back(task);
  const unsigned long long ticket = ++tasksQueued_;
  wake();
  done_.wait(lock, [&] { return tasksDone_ >= ticket || stopping_; });
}

void EventThread::post(std::function<void()> task) {
  std::lock_guard lock(mutex_);
  if (stopping_) return;
  tasks_.push_back(std::move(task));
  ++tasksQueued_;  // keeps the tickets of run() in step with the tasks done
  wake();
}

void EventThread::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  done_.notify_all();
  if (onThread()) return;  // the loop sees the flag when this turn is over
  wake();
  if (thread_.joinable()) thread_.join();
}

void EventThread::runTasks() {
  for (;;) {
    std::function<void()> task;
    {
      std::lock_guard lock(mutex_);
      if (tasks_.empty() || stopping_) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
    {
      std::lock_guard lock(mutex_);
      ++tasksDone_;
    }
    done_.notify_all();
  }
}

void EventThread::loop(std::shared_ptr<EventThread> self) {
  std::vector<pollfd> fds;
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (stopping_) break;
    }
    fds.assign(1, pollfd{wakeFd_, POLLIN, 0});
    int timeoutMs = -1;
    client_->preparePoll(&fds, &timeoutMs);
    const int ready = ::poll(fds.data(), fds.size(), timeoutMs);
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
      uint64_t count = 0;
      while (::read(wakeFd_, &count, sizeof count) < 0 && errno == EINTR) {
      }
    }
    runTasks();
    {
      std::lock_guard lock(mutex_);
      if (stopping_) break;
    }
    if (ready < 0) {
      for (auto& entry : fds) entry.revents = 0;
    }
    client_->afterPoll(fds.data() + 1, fds.size() - 1);
  }
  // Tasks still queued are not run; their callers are released.
  done_.notify_all();
  client_.reset();
  self.reset();
}

}  // namespace utils::linuxport
