// The order of the notification service's events: connection events and the
// radio's signal events in the order they came, and what arrives while
// UTIL_BT_Initialize sets the service up delivered after it, not dropped.
#include <thread>

#include "notification_fixture.h"

namespace utils::test {
namespace {

using Calls = std::vector<std::pair<DWORD, DWORD>>;

TEST_F(NotificationTest, ConnectionAndSignalEventsReachTheCallbackInTheOrderTheyCame) {
  start();
  sim_.notification.postConnection(kWatched, port::kHciConnectionTypeAcl, true);
  sim_.notification.postSignalEvent(0, kWatched, -50);
  sim_.notification.postConnection(kWatched, port::kHciConnectionTypeAcl, false);
  sim_.notification.postSignalEvent(0, kWatched, -75);  // after the disconnection: not connected
  sim_.notification.postConnection(kWatched, port::kHciConnectionTypeAcl, true);
  sim_.notification.postSignalEvent(2, kWatched, -75);  // the radio reports the link gone
  sim_.notification.postSignalEvent(0, kWatched, -95);
  EXPECT_EQ(7u, sim_.notification.pump());
  EXPECT_EQ((Calls{{1, 6}, {1, 5}, {0, 0}, {0, 3}, {1, 6}, {0, 0}, {0, 1}}), takeArguments());
  EXPECT_EQ(0u, state().connected.load());
}

TEST_F(NotificationTest, WhatArrivesDuringInitializeIsDeliveredAfterItInOrder) {
  // A thread other than the caller's delivers the window's messages (as the
  // Linux event thread does) while the initialise still holds the lock.
  size_t deliveredDuringSetUp = SIZE_MAX;
  sim_.notification.onRegistration([this, &deliveredDuringSetUp](bool isHandle) {
    if (!isHandle) return;
    sim_.notification.postConnection(kWatched, port::kHciConnectionTypeAcl, true);
    sim_.notification.postSignalEvent(0, kWatched, -50);
    sim_.notification.postConnection(kWatched, port::kHciConnectionTypeAcl, false);
    sim_.notification.postConnection(kWatched, port::kHciConnectionTypeAcl, true);
    std::thread([this, &deliveredDuringSetUp] { deliveredDuringSetUp = sim_.notification.pump(); }).join();
  });
  UTIL_BT_Initialize(kWatched);
  sim_.notification.onRegistration(nullptr);
  EXPECT_EQ(0u, deliveredDuringSetUp) << "the window's messages wait while the service is set up";
  EXPECT_EQ(0u, state().connected.load()) << "the device was not connected when the initialise read it";

  RegisterNotification(recordNotification);
  EXPECT_EQ(4u, sim_.notification.pump());
  EXPECT_EQ((Calls{{1, 6}, {1, 5}, {0, 0}, {1, 6}}), takeArguments());
  EXPECT_EQ(1u, state().connected.load());

  // A failed initialise (no window) holds nothing, and a later one delivers as before.
  UTIL_BT_Uninitialize();
  sim_.notification.failCreateWindow(ERROR_NOT_ENOUGH_MEMORY);
  UTIL_BT_Initialize(kWatched);
  sim_.notification.failCreateWindow(0);
  EXPECT_EQ(0u, sim_.notification.windowCount());
  start();
  sim_.notification.postConnection(kWatched, port::kHciConnectionTypeAcl, true);
  EXPECT_EQ(1u, sim_.notification.pump());
  EXPECT_EQ((Calls{{1, 6}}), takeArguments());
}

}  // namespace
}  // namespace utils::test
