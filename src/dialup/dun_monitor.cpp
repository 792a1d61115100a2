// Following a connection that is up: the monitor thread waits for the
// dialler's connection notifications and reports the connection's state.
#include "diag/export_guard.h"
#include "dialup/dun_context.h"
#include "port/platform.h"

namespace utils::dialup {
namespace {

port::DialupPort* dialupPort() { return port::platform().dialup; }

void DunMonitorThread(MonitorRun* run) {
  DunContext& ctx = dunContext();
  while (run->stop.load() == 0) {
    const HANDLE event = ctx.wakeEvent.load();
    if (event == nullptr || dialupPort()->waitEvent(event, INFINITE) != WAIT_OBJECT_0) break;
    // The stop flag is set before the event is signalled: tested after every wake.
    if (run->stop.load() != 0) break;
    if (ctx.connection.load() != nullptr) DunQueryStatus(run);
  }
}

// Takes the monitor out of the context when run is it.
void forgetMonitor(MonitorRun* run) {
  DunContext& ctx = dunContext();
  std::lock_guard lock(ctx.threadLock);
  if (ctx.monitor.get() == run) {
    ctx.endedMonitors.push_back(std::move(ctx.monitor));
    ctx.monitor.reset();
  }
}

}  // namespace

HANDLE takeWakeEvent() {
  DunContext& ctx = dunContext();
  HANDLE event = nullptr;
  {
    std::lock_guard lock(ctx.threadLock);
    event = ctx.wakeEvent.exchange(nullptr);
  }
  DunStopMonitor(event);
  return event;
}

void DunStartMonitor() {
  DunContext& ctx = dunContext();
  // The event is read under the lock that takeWakeEvent takes it out under: a
  // monitor either starts before and is stopped there, or does not start.
  std::lock_guard lock(ctx.threadLock);
  const port::DialConnection connection = ctx.connection.load();
  const HANDLE event = ctx.wakeEvent.load();
  // Without a wake event (the context was released) there is nothing to wait on.
  if (connection == nullptr || event == nullptr) return;
  if (ctx.monitor) return;
  auto run = std::make_shared<MonitorRun>();
  dialupPort()->resetEvent(event);
  dialupPort()->notifyOnChange(connection, event, port::kRasNotifyConnection | port::kRasNotifyDisconnection);
  std::unique_ptr<port::WorkerThread> thread;
  if (port::platform().notification->startThread(
          [run] {
            diag::guardExport("DunMonitorThread", [&run] { DunMonitorThread(run.get()); });
            run->finished = true;
          },
          &thread) != 0) {
    return;
  }
  run->thread = std::move(thread);
  ctx.monitor = std::move(run);
}

void DunStopMonitor(HANDLE wake) {
  DunContext& ctx = dunContext();
  std::shared_ptr<MonitorRun> run;
  {
    std::lock_guard lock(ctx.threadLock);
    run = std::move(ctx.monitor);
    ctx.monitor.reset();
    if (!run) return;
    run->stop = 1;
    if (const HANDLE event = wake != nullptr ? wake : ctx.wakeEvent.load()) dialupPort()->setEvent(event);
    // Called from the monitor's own callback: it ends once the callback returns,
    // and is joined later.
    if (run->thread->isCurrent()) {
      ctx.endedMonitors.push_back(std::move(run));
      return;
    }
  }
  run->thread->join();
}

void DunQueryStatus(MonitorRun* run) {
  DunContext& ctx = dunContext();
  const port::DialConnection connection = ctx.connection.load();
  if (connection == nullptr) return;
  port::ConnectionStatus status;
  const DWORD error = dialupPort()->getStatus(connection, &status);
  if (error == 0) {
    ctx.lastState = status.state;
    callBack(status.state == port::kRasConnected ? 1 : 0);
  } else if (error == ERROR_INVALID_HANDLE) {
    // The dialler no longer knows the connection: monitoring ends.
    if (run != nullptr) {
      run->stop = 1;
      forgetMonitor(run);
    } else {
      DunStopMonitor();
    }
    callBack(0);
    // Only the connection that was found gone is forgotten.
    port::DialConnection expected = connection;
    ctx.connection.compare_exchange_strong(expected, nullptr);
  }
}

}  // namespace utils::dialup
