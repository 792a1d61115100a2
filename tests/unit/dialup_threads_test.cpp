// The dial-up context's threads: the monitor, the hang-up threads, callbacks
// that call back into the library, and releasing the context while threads run.
#include <condition_variable>
#include <future>

#include "dialup/dun_context.h"
#include "dialup_fixture.h"

namespace utils::test {
namespace {

using Values = std::vector<int>;

TEST_F(DunTest, TheMonitorReportsEachChangeByTheConnectionsState) {
  start();
  const port::DialConnection connection = dialToMonitoring();
  ASSERT_EQ((Values{1}), takeValues()) << "1 at the modem link, before the connection is complete";

  sim_.dialup.setState(connection, port::kRasConnected);
  ASSERT_TRUE(sim_.notification.settle());
  const auto up = takeCalls();
  ASSERT_EQ(1u, up.size());
  EXPECT_EQ(1, up[0].connected);
  EXPECT_NE(std::this_thread::get_id(), up[0].thread) << "reported on the monitor thread";

  sim_.dialup.setState(connection, port::kRasDisconnected);
  ASSERT_TRUE(sim_.notification.settle());
  EXPECT_EQ((Values{0}), takeValues());
  EXPECT_EQ(1u, sim_.notification.threadsRunning()) << "a known connection keeps its monitor";

  // Status errors other than an unknown connection are ignored.
  sim_.dialup.failStatus(ERROR_GEN_FAILURE);
  sim_.dialup.setState(connection, port::kRasConnected);
  ASSERT_TRUE(sim_.notification.settle());
  EXPECT_TRUE(takeCalls().empty());
  EXPECT_EQ(1u, sim_.notification.threadsRunning());
  sim_.dialup.failStatus(0);

  // The dialler forgets the connection: callback 0, the monitor ends, Idle.
  sim_.dialup.removeConnection(connection);
  ASSERT_TRUE(sim_.notification.settle());
  EXPECT_EQ((Values{0}), takeValues());
  EXPECT_EQ(0u, sim_.notification.threadsRunning());
  EXPECT_EQ(nullptr, dialup::dunContext().connection.load());

  // A monitor that ended by itself does not block the next one.
  const port::DialConnection next = dialToMonitoring();
  EXPECT_EQ(1u, sim_.notification.threadsRunning());
  EXPECT_EQ(1u, sim_.dialup.notificationsAsked(next));
  EXPECT_EQ((Values{1}), takeValues());

  // The dialler forgets the connection and the dial ends at the same time: the
  // client may hear 0 from the monitor and from the window thread, never 1.
  sim_.dialup.removeConnection(next);
  sim_.dialup.step(port::kRasDisconnected);
  deliver();
  const Values values = takeValues();
  ASSERT_FALSE(values.empty());
  for (int value : values) EXPECT_EQ(0, value);
  EXPECT_EQ(0u, sim_.notification.threadsRunning());
}

TEST_F(DunTest, HangingUpInTheBackground) {
  struct Row {
    const char* name;
    bool withConnection;
    size_t keptForReads;
    size_t statusReads;  // of the hang-up thread
    uint64_t elapsedMs;  // virtual time the thread slept
  };
  const Row rows[] = {
      {"no connection: the dialler does not know it", false, 0, 1, 0},
      {"released at once", true, 0, 1, 0},
      {"released after five reads", true, 5, 6, 5},
      {"never released: given up after 30 s", true, SIZE_MAX, 30000, 30000},
  };
  start();
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    sim_.dialup.keepAfterHangUp(row.keptForReads);
    const port::DialConnection connection = row.withConnection ? dialToMonitoring() : nullptr;
    takeCalls();
    const size_t readsBefore = sim_.dialup.statusReads();
    const uint64_t startMs = sim_.clock.monotonicMs();
    DunDisConnect();
    EXPECT_EQ(nullptr, dialup::dunContext().connection.load()) << "Idle at once for the client";
    ASSERT_TRUE(sim_.notification.settle());
    EXPECT_EQ(0u, sim_.notification.threadsRunning());
    EXPECT_EQ((Values{0}), takeValues());
    EXPECT_EQ(connection, sim_.dialup.hangUps().back());
    EXPECT_EQ(row.statusReads, sim_.dialup.statusReads() - readsBefore);
    EXPECT_EQ(row.elapsedMs, sim_.clock.monotonicMs() - startMs) << "one 1 ms sleep between reads";
    if (connection != nullptr) sim_.dialup.removeConnection(connection);
  }
}

// Holds the hang-up thread in its first status read until release is set.
struct HeldStatusRead {
  explicit HeldStatusRead(sim::SimDialup& simDialup) : dialup(simDialup) {
    dialup.onStatusRead([this] {
      if (reads++ == 0) {
        reached.set_value();
        released.wait();
      }
    });
  }
  ~HeldStatusRead() { dialup.onStatusRead(nullptr); }
  sim::SimDialup& dialup;
  std::atomic<int> reads{0};
  std::promise<void> reached, release;
  std::shared_future<void> released = release.get_future().share();
};

TEST_F(DunTest, DisConnectReturnsBeforeTheHangUpIsDoneAndUninitializeEndsItsWait) {
  start();
  for (const bool uninitialize : {false, true}) {
    SCOPED_TRACE(uninitialize ? "uninitialised while held" : "released");
    dialToMonitoring();
    takeCalls();
    sim_.dialup.keepAfterHangUp(uninitialize ? SIZE_MAX : 1);
    HeldStatusRead held(sim_.dialup);
    DunDisConnect();
    held.reached.get_future().wait();
    EXPECT_TRUE(takeCalls().empty()) << "the callback comes from the hang-up thread, later";
    if (!uninitialize) {
      held.release.set_value();
      ASSERT_TRUE(sim_.notification.settle());
      EXPECT_EQ((Values{0}), takeValues());
      continue;
    }
    // DunUninitialize waits for the thread it told to end; the thread is held in
    // its status read until the call has begun.
    auto uninitialized = std::async(std::launch::async, [] { DunUninitialize(); });
    EXPECT_EQ(std::future_status::timeout, uninitialized.wait_for(std::chrono::milliseconds(50)));
    held.release.set_value();
    uninitialized.get();
    EXPECT_EQ(0u, sim_.notification.threadsRunning()) << "joined before DunUninitialize returned";
    EXPECT_LT(held.reads.load(), 10) << "the wait ended at once";
    EXPECT_TRUE(takeCalls().empty());
  }
}

TEST_F(DunTest, UninitializeAndReinitializeLeaveNothingBehind) {
  start();
  const port::DialConnection connection = dialToMonitoring();
  ASSERT_EQ(1u, sim_.notification.threadsRunning());
  // A second set-up stops the monitor and replaces the window and the event;
  // the connection, still up, is found again and followed by a new monitor.
  DunInitialize(kPhone);
  EXPECT_EQ(2u, sim_.notification.threadsStarted());
  EXPECT_EQ(1u, sim_.notification.threadsRunning());
  EXPECT_EQ(connection, dialup::dunContext().connection.load());
  EXPECT_EQ(1u, sim_.notification.windowCount());
  EXPECT_EQ(1u, sim_.dialup.openEvents());
  ASSERT_EQ(0u, DunRegisterNotification(recordDun));
  // Released while the monitor runs: it is stopped first.
  DunUninitialize();
  EXPECT_EQ(0u, sim_.notification.threadsRunning());
  EXPECT_EQ(0u, sim_.notification.windowCount());
  EXPECT_EQ(0u, sim_.dialup.openEvents());
  // Usable again afterwards.
  start();
  dialToMonitoring();
  EXPECT_EQ(1u, sim_.notification.threadsRunning());
}

// Where a callback that calls back into the library runs.
enum class Place { kWindowThread, kMonitorThread, kHangUpThread };

TEST_F(DunTest, CallbacksMayDisconnectOrUninitialize) {
  struct Row {
    const char* name;
    Place place;
    bool uninitialize;  // else DunDisConnect
  };
  const Row rows[] = {
      {"disconnect on the window thread", Place::kWindowThread, false},
      {"disconnect on the monitor thread", Place::kMonitorThread, false},
      {"uninitialize on the window thread", Place::kWindowThread, true},
      {"uninitialize on the monitor thread", Place::kMonitorThread, true},
      {"uninitialize on a hang-up thread", Place::kHangUpThread, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    start();
    std::atomic<bool> armed{row.place == Place::kWindowThread};
    std::atomic<int> reentered{0};
    const bool uninitialize = row.uninitialize;
    setReaction([&armed, &reentered, uninitialize](BYTE) {
      if (!armed.exchange(false)) return;
      ++reentered;
      if (uninitialize) {
        DunUninitialize();
      } else {
        DunDisConnect();
      }
    });
    const port::DialConnection connection = dialToMonitoring();
    if (row.place == Place::kMonitorThread) {
      armed = true;
      sim_.dialup.setState(connection, port::kRasConnected);
    } else if (row.place == Place::kHangUpThread) {
      armed = true;
      DunDisConnect();
    }
    ASSERT_TRUE(sim_.notification.settle()) << "no thread is stuck";
    EXPECT_EQ(1, reentered.load());
    setReaction(nullptr);
    DunUninitialize();
    EXPECT_EQ(0u, sim_.notification.threadsRunning());
    EXPECT_EQ(0u, sim_.notification.windowCount());
    takeCalls();
    sim_.dialup.removeConnection(connection);
  }
}

TEST_F(DunTest, ACallbackThatDialsAgainKeepsItsNewConnection) {
  start();
  dial();
  std::atomic<bool> armed{true};
  setReaction([&armed](BYTE connected) {
    if (connected == 0 && armed.exchange(false)) {
      EXPECT_TRUE(DunConnect());
    }
  });
  sim_.dialup.step(port::kRasDeviceConnected, 651);  // the dial fails: hung up, callback 0
  deliver();
  const auto dials = sim_.dialup.dials();
  ASSERT_EQ(2u, dials.size());
  EXPECT_EQ(dials[1].connection, dialup::dunContext().connection.load()) << "the redial's connection is kept";
  setReaction(nullptr);
}

}  // namespace
}  // namespace utils::test
