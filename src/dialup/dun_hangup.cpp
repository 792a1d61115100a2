// Hanging up: on the window thread after a dial ends, and in the background
// after DunDisConnect, where a thread waits until the dialler has let the
// connection go.
#include "diag/export_guard.h"
#include "dialup/dun_context.h"
#include "port/platform.h"

namespace utils::dialup {
namespace {

port::DialupPort* dialupPort() { return port::platform().dialup; }

void DunHangUpThread(HangUpRun* run, port::DialConnection connection) {
  dialupPort()->hangUp(connection);
  port::ClockPort* clock = port::platform().clock;
  const uint64_t start = clock->monotonicMs();
  for (;;) {
    if (run->cancel.load()) return;  // DunUninitialize: the client no longer listens
    port::ConnectionStatus status;
    const DWORD error = dialupPort()->getStatus(connection, &status);
    if (error == ERROR_INVALID_HANDLE) break;
    clock->sleepMs(1);
    if (error != 0) break;
    // A dialler that never lets the connection go: given up on, reported gone.
    if (clock->monotonicMs() - start >= kHangUpLimitMs) break;
  }
  if (!run->cancel.load()) callBack(0);
}

// Joins the given runs' threads, except the calling one, which is put back.
template <class Run>
void joinAll(std::vector<std::shared_ptr<Run>> runs, std::vector<std::shared_ptr<Run>>& keep) {
  std::vector<std::shared_ptr<Run>> current;
  for (auto& run : runs) {
    if (run->thread->isCurrent()) {
      current.push_back(std::move(run));
    } else {
      run->thread->join();
    }
  }
  if (current.empty()) return;
  std::lock_guard lock(dunContext().threadLock);
  keep.insert(keep.end(), current.begin(), current.end());
}

}  // namespace

void DunHangUp() {
  DunContext& ctx = dunContext();
  const port::DialConnection connection = ctx.connection.load();
  dialupPort()->hangUp(connection);
  DunStopMonitor();
  callBack(0);
  // Only the connection hung up is forgotten: a callback that dialled again
  // keeps its new one.
  port::DialConnection expected = connection;
  ctx.connection.compare_exchange_strong(expected, nullptr);
}

void startHangUpThread(port::DialConnection connection) {
  DunContext& ctx = dunContext();
  std::vector<std::shared_ptr<HangUpRun>> finished;
  auto run = std::make_shared<HangUpRun>();
  {
    std::lock_guard lock(ctx.threadLock);
    // Threads that have finished are joined (at once) as new ones start.
    std::erase_if(ctx.hangUps, [&finished](const std::shared_ptr<HangUpRun>& old) {
      if (!old->finished.load()) return false;
      finished.push_back(old);
      return true;
    });
    // Room for the new run first: once its thread runs, nothing here may fail.
    ctx.hangUps.reserve(ctx.hangUps.size() + 1);
    std::unique_ptr<port::WorkerThread> thread;
    if (port::platform().notification->startThread(
            [run, connection] {
              diag::guardExport("DunHangUpThread", [&] { DunHangUpThread(run.get(), connection); });
              run->finished = true;
            },
            &thread) == 0) {
      run->thread = std::move(thread);
      ctx.hangUps.push_back(run);
    } else {
      run.reset();
    }
  }
  for (auto& old : finished) old->thread->join();
  if (!run) {
    // No thread: hang up here and report the connection gone.
    dialupPort()->hangUp(connection);
    callBack(0);
  }
}

void endBackgroundThreads() {
  DunContext& ctx = dunContext();
  std::vector<std::shared_ptr<HangUpRun>> hangUps;
  std::vector<std::shared_ptr<MonitorRun>> monitors;
  {
    std::lock_guard lock(ctx.threadLock);
    hangUps.swap(ctx.hangUps);
    monitors.swap(ctx.endedMonitors);
  }
  for (auto& run : hangUps) run->cancel = true;
  joinAll(std::move(hangUps), ctx.hangUps);
  joinAll(std::move(monitors), ctx.endedMonitors);
}

}  // namespace utils::dialup
