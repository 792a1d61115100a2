// Reads the process's debugger output the way a debug monitor does: through the
// session-wide DBWIN_BUFFER shared memory and its two events. Only one monitor
// can own them at a time.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace utils::testing {

class DbwinCapture {
 public:
  // Creates the monitor objects and starts reading. ready() tells whether it could.
  DbwinCapture();
  ~DbwinCapture();
  DbwinCapture(const DbwinCapture&) = delete;
  DbwinCapture& operator=(const DbwinCapture&) = delete;

  // False when the objects could not be created or another monitor owns them;
  // error() then says why.
  bool ready() const { return ready_; }
  const std::string& error() const { return error_; }

  // The texts this process wrote since the last clear, in order, all of them: a
  // marker written now arrives last, as each text is read before the next can be
  // written (waits for it up to 5 s).
  std::vector<std::string> flush();
  void clear();

 private:
  struct HandleCloser {
    void operator()(HANDLE handle) const;
  };
  using Handle = std::unique_ptr<void, HandleCloser>;
  struct ViewUnmapper {
    void operator()(void* view) const;
  };

  void readLoop();

  Handle bufferReady_;
  Handle dataReady_;
  Handle mapping_;
  std::unique_ptr<void, ViewUnmapper> view_;
  Handle stop_;
  std::thread reader_;
  bool ready_ = false;
  std::string error_;

  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<std::string> texts_;  // guarded by mutex_
};

}  // namespace utils::testing
