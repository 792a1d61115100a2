// The dial-up context's set-up, discovery, phonebook entry, dialling, and the
// state table of the window's dial progress handling.
#include "dialup/dun_context.h"
#include "dialup_fixture.h"

namespace utils::test {
namespace {

using Values = std::vector<int>;

// One row of the dial progress table, applied to a dial in progress.
struct ProgressRow {
  const char* name;
  DWORD state;
  DWORD error;
  Values callbacks;  // what the client hears
  bool hungUp;       // the window thread hung the connection up
  bool monitoring;   // a monitor thread follows the connection
  bool keepsConnection;
};

TEST_F(DunTest, EveryRowOfTheDialProgressTable) {
  const ProgressRow rows[] = {
      {"error while opening the port", 0, 633, {0}, true, false, false},
      {"error at the modem link", port::kRasDeviceConnected, 651, {0}, true, false, false},
      {"error with the connected state", port::kRasConnected, 691, {0}, true, false, false},
      {"modem link up", port::kRasDeviceConnected, 0, {1}, false, true, true},
      {"disconnected", port::kRasDisconnected, 0, {0}, true, false, false},
      {"connected: the monitor reports it", port::kRasConnected, 0, {}, false, false, true},
      {"port opened", 1, 0, {}, false, false, true},
      {"authenticating", 6, 0, {}, false, false, true},
  };
  start();
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const port::DialConnection connection = dial();
    ASSERT_NE(nullptr, connection);
    const size_t hangUpsBefore = sim_.dialup.hangUps().size();
    sim_.dialup.step(row.state, row.error);
    deliver();
    EXPECT_EQ(row.callbacks, takeValues());
    const auto hangUps = sim_.dialup.hangUps();
    EXPECT_EQ(row.hungUp, hangUps.size() == hangUpsBefore + 1 && hangUps.back() == connection);
    EXPECT_EQ(row.monitoring ? 1u : 0u, sim_.notification.threadsRunning());
    EXPECT_EQ(row.monitoring ? 1u : 0u, sim_.dialup.notificationsAsked(connection));
    EXPECT_EQ(row.keepsConnection ? connection : nullptr, dialup::dunContext().connection.load());
    // Back to Idle for the next row.
    DunDisConnect();
    ASSERT_TRUE(sim_.notification.settle());
    takeCalls();
  }
}

TEST_F(DunTest, AnEndOfTheDialWhileMonitoringHangsUpAndStopsTheMonitor) {
  struct Row {
    const char* name;
    DWORD state;
    DWORD error;
  };
  const Row rows[] = {{"disconnected", port::kRasDisconnected, 0}, {"error", port::kRasConnected, 629}};
  start();
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const port::DialConnection connection = dialToMonitoring();
    ASSERT_EQ(1u, sim_.notification.threadsRunning());
    sim_.dialup.step(row.state, row.error);
    deliver();
    // 1 at the modem link, then 0 from DunHangUp and perhaps also from the
    // monitor, woken by the hang-up before it was stopped.
    const Values values = takeValues();
    ASSERT_GE(values.size(), 2u);
    EXPECT_EQ(1, values[0]);
    for (size_t i = 1; i < values.size(); ++i) EXPECT_EQ(0, values[i]);
    EXPECT_EQ(0u, sim_.notification.threadsRunning()) << "the monitor was stopped before DunHangUp returned";
    EXPECT_EQ(connection, sim_.dialup.hangUps().back());
    EXPECT_EQ(nullptr, dialup::dunContext().connection.load());
  }
}

TEST_F(DunTest, OtherMessagesAndDeviceChangesAreIgnored) {
  start();
  dial();
  const UINT other = sim_.notification.registerMessage("SomethingElse");
  const HWND window = dialup::dunContext().window.load();
  sim_.notification.postMessage(window, other, port::kRasDisconnected, 0);
  sim_.notification.postToWindows(port::kDbtDeviceArrival, std::nullopt);
  deliver();
  EXPECT_TRUE(takeCalls().empty());
  EXPECT_TRUE(sim_.dialup.hangUps().empty());
}

TEST_F(DunTest, TheEntryIsWrittenWithTheTableValuesUnderThePeerName) {
  port::PhonebookEntry defaults;
  defaults.deviceType = L"isdn";
  defaults.netProtocols = 0xB;
  defaults.options = 0xFFFF;
  defaults.type = 2;
  defaults.platformRecord = {1, 2, 3, 4};
  sim_.dialup.setDefaultEntry(defaults);
  start();
  ASSERT_TRUE(DunConnect());
  const auto entry = sim_.dialup.entry(kPhoneName);
  ASSERT_TRUE(entry.has_value());
  EXPECT_EQ(L"modem", entry->deviceType);
  EXPECT_EQ(kModemName, entry->deviceName);
  EXPECT_EQ(4u, entry->netProtocols);
  EXPECT_EQ(1u, entry->framingProtocol);
  EXPECT_EQ(0x01000010u, entry->options) << "the whole option set is replaced";
  EXPECT_EQ(1u, entry->type);
  EXPECT_EQ((std::vector<BYTE>{1, 2, 3, 4}), entry->platformRecord) << "every other setting stays as read";

  const auto dials = sim_.dialup.dials();
  ASSERT_EQ(1u, dials.size());
  EXPECT_EQ(kPhoneName, dials[0].entryName);
  EXPECT_EQ(L"*99#", dials[0].phoneNumber);
  EXPECT_EQ(dialup::dunContext().window.load(), dials[0].notifier);
  EXPECT_NE(nullptr, dials[0].notifier);
  EXPECT_TRUE(takeCalls().empty()) << "a started dial reports nothing until its progress arrives";
}

TEST_F(DunTest, EntryAndDialFailures) {
  start();
  // Unreadable defaults: no dial and no callback.
  sim_.dialup.failReadDefaultEntry(ERROR_NOT_FOUND);
  EXPECT_FALSE(DunConnect());
  EXPECT_TRUE(sim_.dialup.dials().empty());
  EXPECT_TRUE(takeCalls().empty());
  sim_.dialup.failReadDefaultEntry(0);

  // A write that fails is not tested: the dial goes ahead.
  sim_.dialup.failWriteEntry(ERROR_ACCESS_DENIED);
  EXPECT_TRUE(DunConnect());
  EXPECT_EQ(1u, sim_.dialup.dials().size());
  DunDisConnect();
  ASSERT_TRUE(sim_.notification.settle());
  takeCalls();

  // A dial that cannot start: callback 0, result 0; a connection it handed out
  // anyway is hung up.
  sim_.dialup.failDial(633, true);
  EXPECT_FALSE(DunConnect());
  EXPECT_EQ((Values{0}), takeValues());
  const auto failed = sim_.dialup.dials().back().connection;
  ASSERT_NE(nullptr, failed);
  EXPECT_FALSE(sim_.dialup.knows(failed));
  EXPECT_EQ(nullptr, dialup::dunContext().connection.load());
  sim_.dialup.failDial(633, false);
  EXPECT_FALSE(DunConnect());
  EXPECT_EQ((Values{0}), takeValues());
}

TEST_F(DunTest, DiscoveryOfTheModem) {
  struct Row {
    const char* name;
    std::vector<port::ModemDevice> modems;
    std::wstring expected;
  };
  const std::wstring longName(300, L'm');
  const Row rows[] = {
      {"address in lower case", {{0, L"0019a1b2c3d4", 0, L"Lower"}}, L"Lower"},
      {"another phone first", {{0, L"0019A1B2C3D5", 0, L"Other"}, {0, L"0019A1B2C3D4", 0, L"Mine"}}, L"Mine"},
      {"two modems: the first wins", {{0, L"0019A1B2C3D4", 0, L"First"}, {0, L"0019A1B2C3D4", 0, L"Second"}}, L"First"},
      {"unreadable address skipped", {{31, L"", 0, L"Broken"}, {0, L"0019A1B2C3D4", 0, L"Good"}}, L"Good"},
      {"unreadable name skipped", {{0, L"0019A1B2C3D4", 31, L""}, {0, L"0019A1B2C3D4", 0, L"Next"}}, L"Next"},
      {"address with separators", {{0, L"00:19:A1:B2:C3:D4", 0, L"Colons"}}, L""},
      {"long name cut to 259", {{0, L"0019A1B2C3D4", 0, longName}}, longName.substr(0, 259)},
      {"none", {}, L""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    sim_.dialup.clearModems();
    for (const auto& modem : row.modems) {
      sim_.dialup.addModem(modem.address, modem.friendlyName, modem.addressError, modem.nameError);
    }
    DunInitialize(kPhone);
    EXPECT_EQ(512u, sim_.dialup.lastPropertyUnits()) << "1024 bytes of UTF-16";
    std::lock_guard lock(dialup::dunContext().dataLock);
    EXPECT_EQ(row.expected, dialup::dunContext().modemName);
  }
  sim_.dialup.failListModems(ERROR_INVALID_DATA);
  DunInitialize(kPhone);
  std::lock_guard lock(dialup::dunContext().dataLock);
  EXPECT_EQ(L"", dialup::dunContext().modemName) << "cleared when the device list cannot be made";
}

TEST_F(DunTest, ThePeerNameFollowsTheRadio) {
  start();
  ASSERT_TRUE(DunConnect());
  EXPECT_EQ(kPhoneName, sim_.dialup.dials().back().entryName);
  // No radio: the name of the earlier set-up stays.
  sim_.radio.failNext(sim::SimRadio::Op::FindFirstRadio, ERROR_NO_MORE_ITEMS);
  DunInitialize(kPhone);
  ASSERT_TRUE(DunConnect());
  EXPECT_EQ(kPhoneName, sim_.dialup.dials().back().entryName);
  // No device information: the name is empty.
  sim_.radio.failNext(sim::SimRadio::Op::GetDeviceInfo, ERROR_NOT_FOUND);
  DunInitialize(kPhone);
  ASSERT_TRUE(DunConnect());
  EXPECT_EQ(L"", sim_.dialup.dials().back().entryName);
  // A phone without a name dials under the empty name; its modem's long name is cut to 128.
  sim_.dialup.addModem(L"0019A1B2C3D5", std::wstring(200, L'x'));
  sim_.radio.addDevice(0x0019A1B2C3D5ULL, {});
  DunInitialize(0x0019A1B2C3D5ULL);
  ASSERT_TRUE(DunConnect());
  const auto entry = sim_.dialup.entry(L"");
  ASSERT_TRUE(entry.has_value());
  EXPECT_EQ(std::wstring(128, L'x'), entry->deviceName);
}

TEST_F(DunTest, AnExistingConnectionIsFollowedFromTheStart) {
  struct Row {
    const char* name;
    std::vector<std::wstring> deviceNames;
    int followed;  // index of the connection followed, -1 for none
  };
  const Row rows[] = {
      {"on the modem", {kModemName}, 0},
      {"another modem first", {L"Other modem", kModemName}, 1},
      {"two on the modem: the first", {kModemName, kModemName}, 0},
      {"differs in case only", {L"standard modem over bluetooth link (com7)"}, -1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<port::DialConnection> handles;
    for (const auto& name : row.deviceNames) handles.push_back(sim_.dialup.addConnection(name, port::kRasConnected));
    start();
    const port::DialConnection expected = row.followed < 0 ? nullptr : handles[row.followed];
    EXPECT_EQ(expected, dialup::dunContext().connection.load());
    EXPECT_EQ(row.followed < 0 ? 0u : 1u, sim_.notification.threadsRunning());
    for (auto handle : handles) EXPECT_EQ(handle == expected ? 1u : 0u, sim_.dialup.notificationsAsked(handle));
    ASSERT_TRUE(sim_.notification.settle());
    EXPECT_TRUE(takeCalls().empty()) << "no callback was registered during the initialisation";
    if (expected != nullptr) {
      // Its changes reach the callback registered afterwards.
      sim_.dialup.setState(expected, port::kRasDisconnected);
      ASSERT_TRUE(sim_.notification.settle());
      EXPECT_EQ((Values{0}), takeValues());
    }
    for (auto handle : handles) sim_.dialup.removeConnection(handle);
    ASSERT_TRUE(sim_.notification.settle());
    takeCalls();
    DunUninitialize();
  }
}

TEST_F(DunTest, AConnectionGoneAtInitialisationEndsItsMonitorBeforeInitReturns) {
  sim_.dialup.addConnection(kModemName, port::kRasConnected);
  sim_.dialup.failStatus(ERROR_INVALID_HANDLE);
  DunInitialize(kPhone);
  EXPECT_EQ(0u, sim_.notification.threadsRunning());
  EXPECT_EQ(1u, sim_.notification.threadsStarted());
  EXPECT_EQ(nullptr, dialup::dunContext().connection.load());
}

TEST_F(DunTest, RegistrationRules) {
  // A callback registered before initialisation is cleared by it.
  ASSERT_EQ(0u, DunRegisterNotification(recordDun));
  DunInitialize(kPhone);
  sim_.dialup.failDial(633);
  EXPECT_FALSE(DunConnect());
  EXPECT_TRUE(takeCalls().empty());
  // Null is refused and the stored callback stays.
  ASSERT_EQ(0u, DunRegisterNotification(recordDun));
  EXPECT_EQ(9u, DunRegisterNotification(nullptr));
  EXPECT_FALSE(DunConnect());
  EXPECT_EQ((Values{0}), takeValues());
  // The latest callback receives the later reports.
  ASSERT_EQ(0u, DunRegisterNotification(otherDun));
  EXPECT_FALSE(DunConnect());
  EXPECT_TRUE(takeCalls().empty());
}

TEST_F(DunTest, WithoutAWindowNothingIsSetUpAndNoDialStarts) {
  sim_.notification.failCreateWindow(ERROR_CLASS_ALREADY_EXISTS + 1);
  DunInitialize(kPhone);
  EXPECT_EQ(0u, sim_.notification.windowCount());
  EXPECT_EQ(0u, sim_.dialup.openEvents());
  ASSERT_EQ(0u, DunRegisterNotification(recordDun));
  EXPECT_FALSE(DunConnect());
  EXPECT_TRUE(sim_.dialup.dials().empty()) << "a dial without a window would report to no one";
  EXPECT_EQ((Values{0}), takeValues());
  // A later failure keeps the window of an earlier set-up.
  sim_.notification.failCreateWindow(0);
  DunInitialize(kPhone);
  const HWND window = dialup::dunContext().window.load();
  sim_.notification.failCreateWindow(ERROR_NOT_ENOUGH_MEMORY);
  DunInitialize(kPhone);
  EXPECT_EQ(window, dialup::dunContext().window.load());
  EXPECT_EQ(1u, sim_.notification.windowCount());
}

}  // namespace
}  // namespace utils::test
