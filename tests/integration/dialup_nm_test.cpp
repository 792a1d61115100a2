// The dial-up functions on the Linux adapters against python3-dbusmock's
// bluez5 and networkmanager templates on one private system bus: the phone's
// modem, the profile written for it, dials that come up and that fail,
// hanging up, a connection that runs before initialisation, and
// NetworkManager leaving the bus in the middle of a dial.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "dialup/dun_context.h"
#include "port/platform.h"
#include "radio_test_env.h"
#include "utils/dialup.h"

namespace utils::test {
namespace {

constexpr ULONGLONG kPhone = 0x0019A1B2C3D4ULL;
constexpr const char* kPhoneText = "00:19:A1:B2:C3:D4";
constexpr const char* kNm = "org.freedesktop.NetworkManager";
constexpr const char* kNmPath = "/org/freedesktop/NetworkManager";
constexpr const char* kBtDevice = "/org/freedesktop/NetworkManager/Devices/bt0";
constexpr const char* kDunUuid = "00001103-0000-1000-8000-00805f9b34fb";

CallLog<int> gCalls;

void record(BYTE connected) { gCalls.add(connected); }

// Waits up to 10 s for a callback with value; returns the values up to and
// including it (empty when it did not come), leaving later ones for the next wait.
std::vector<int> waitFor(int value) {
  return gCalls.waitFor([value](int call) { return call == value; }, 10000);
}

class DialupNmTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    session_ = new BluezSession("", true, false);
    ASSERT_TRUE(session_->addDevice(kPhoneText, "Tally Phone", true));
    ASSERT_TRUE(offersDialUp("dev_00_19_A1_B2_C3_D4"));
    // A paired device without dial-up networking, and an unpaired one with it.
    ASSERT_TRUE(session_->addDevice("00:19:A1:B2:C3:D5", "Headset", true));
    ASSERT_TRUE(session_->addDevice("00:19:A1:B2:C3:D6", "Stranger"));
    ASSERT_TRUE(offersDialUp("dev_00_19_A1_B2_C3_D6"));
    ASSERT_TRUE(startNetworkManager());
  }
  static bool offersDialUp(const std::string& device) {
    return session_->bluez.setProperty("/org/bluez/hci0/" + device, "org.bluez.Device1", "UUIDs",
                                       std::string("<['") + kDunUuid + "']>");
  }
  static void TearDownTestSuite() {
    DunUninitialize();
    delete session_;
  }
  void SetUp() override {
    gCalls.take();
    DunInitialize(kPhone);
    ASSERT_EQ(0u, DunRegisterNotification(record));
  }
  void TearDown() override {
    DunUninitialize();
    deactivateAll();  // nothing stays active for the next test
  }
  static void deactivateAll() {
    for (const auto& path : activeConnections()) {
      session_->bluez.call(kNm, kNmPath, "org.freedesktop.NetworkManager.DeactivateConnection", {path});
    }
  }

  // NetworkManager with the phone's Bluetooth device (state: disconnected).
  static bool startNetworkManager() {
    if (!session_->bluez.startNetworkManager()) return false;
    const std::string address = std::string("'") + kPhoneText + "'";
    return session_->bluez.call(
               kNm, kNmPath, "org.freedesktop.DBus.Mock.AddObject",
               {kBtDevice, "org.freedesktop.NetworkManager.Device",
                "{'DeviceType': <uint32 5>, 'State': <uint32 30>, 'StateReason': <(uint32 30, uint32 0)>, "
                "'ActiveConnection': <objectpath '/'>, 'Interface': <" +
                    address + ">, 'HwAddress': <" + address + ">}",
                "@a(ssss) []"}) &&
           session_->bluez.call(
               kNm, kBtDevice, "org.freedesktop.DBus.Mock.AddProperties",
               {"org.freedesktop.NetworkManager.Device.Bluetooth",
                "{'Name': <'Tally Phone DUN'>, 'BtCapabilities': <uint32 1>, 'HwAddress': <" + address + ">}"});
  }

  // Activation leaves the next active connections activating (state 1), with the
  // device still where it was.
  static bool activationStopsAtActivating() {
    return activateBy(
        "path = self.AddActiveConnection([], args[0], args[2], 'Dial' + "
        "__import__('uuid').uuid4().hex, dbus.UInt32(1))\n"
        "objects[path].Set('org.freedesktop.NetworkManager.Connection.Active', 'Devices', "
        "dbus.Array([args[1]], signature='o'))\n"
        "ret = dbus.ObjectPath(path)");
  }
  static bool restoreActivation() {
    return activateBy("ret = self.activate_connection(self, args[0], args[1], args[2])");
  }
  // Replaces the mock's ActivateConnection with this Python code.
  static bool activateBy(const std::string& code) {
    return session_->bluez.call(kNm, kNmPath, "org.freedesktop.DBus.Mock.AddMethod",
                                {"org.freedesktop.NetworkManager", "ActivateConnection", "ooo", "o", code});
  }

  // Sets an active connection's state as NetworkManager does: the property
  // (with PropertiesChanged) and the StateChanged signal with a reason.
  static bool setActiveState(const std::string& path, int state, int reason) {
    return session_->bluez.call(kNm, path, "org.freedesktop.DBus.Properties.Set",
                                {"org.freedesktop.NetworkManager.Connection.Active", "State",
                                 "<uint32 " + std::to_string(state) + ">"}) &&
           session_->bluez.call(kNm, path, "org.freedesktop.DBus.Mock.EmitSignal",
                                {"org.freedesktop.NetworkManager.Connection.Active", "StateChanged", "uu",
                                 "[<uint32 " + std::to_string(state) + ">, <uint32 " + std::to_string(reason) + ">]"});
  }

  static std::vector<std::string> objectPaths(const std::string& text) {
    std::vector<std::string> paths;
    for (size_t at = text.find("'/"); at != std::string::npos; at = text.find("'/", at + 1)) {
      const size_t end = text.find('\'', at + 1);
      paths.push_back(text.substr(at + 1, end - at - 1));
      at = end;
    }
    return paths;
  }
  static std::vector<std::string> activeConnections() {
    std::string output;
    session_->bluez.call(kNm, kNmPath, "org.freedesktop.DBus.Properties.Get", {kNm, "ActiveConnections"}, &output);
    return objectPaths(output);
  }
  static std::string profileSettings(const std::string& id) {
    std::string list;
    session_->bluez.call(kNm, "/org/freedesktop/NetworkManager/Settings",
                         "org.freedesktop.NetworkManager.Settings.ListConnections", {}, &list);
    for (const auto& path : objectPaths(list)) {
      std::string settings;
      session_->bluez.call(kNm, path, "org.freedesktop.NetworkManager.Settings.Connection.GetSettings", {}, &settings);
      if (settings.find("'id': <'" + id + "'>") != std::string::npos) return settings;
    }
    return "";
  }

  static BluezSession* session_;
};

BluezSession* DialupNmTest::session_ = nullptr;

TEST_F(DialupNmTest, ThePhonesModemIsFoundAndNamedByNetworkManager) {
  std::vector<port::ModemDevice> modems;
  ASSERT_EQ(0u, port::platform().dialup->listModems(512, &modems));
  ASSERT_EQ(1u, modems.size()) << "only the paired phone that offers dial-up networking";
  EXPECT_EQ(L"0019A1B2C3D4", modems[0].address);
  EXPECT_EQ(L"Tally Phone DUN", modems[0].friendlyName);
  // A property that does not fit fails in its entry.
  ASSERT_EQ(0u, port::platform().dialup->listModems(13, &modems));
  ASSERT_EQ(1u, modems.size());
  EXPECT_EQ(0u, modems[0].addressError);
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), modems[0].nameError);
  std::lock_guard lock(dialup::dunContext().dataLock);
  EXPECT_EQ(L"Tally Phone DUN", dialup::dunContext().modemName);
}

TEST_F(DialupNmTest, ADialWritesTheProfileComesUpAndHangsUp) {
  ASSERT_TRUE(DunConnect());
  EXPECT_EQ((std::vector<int>{1}), waitFor(1)) << "1 once the link to the phone is up";
  const std::string settings = profileSettings("Tally Phone");
  ASSERT_FALSE(settings.empty()) << "a profile named after the phone";
  for (const char* expected :
       {"'type': <'bluetooth'>", "'type': <'dun'>", "'bdaddr': <[byte 0x00, 0x19, 0xa1, 0xb2, 0xc3, 0xd4]>",
        "'number': <'*99#'>", "'method': <'auto'>", "'never-default': <false>", "'method': <'ignore'>",
        "'autoconnect': <false>"}) {
    EXPECT_NE(std::string::npos, settings.find(expected)) << expected << " in " << settings;
  }
  ASSERT_EQ(1u, activeConnections().size());
  EXPECT_NE(nullptr, dialup::dunContext().connection.load());

  // Hanging up ends it.
  const auto started = std::chrono::steady_clock::now();
  DunDisConnect();
  EXPECT_EQ(nullptr, dialup::dunContext().connection.load());
  EXPECT_FALSE(waitFor(0).empty()) << "0 once NetworkManager has let the connection go";
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  EXPECT_TRUE(activeConnections().empty());
}

TEST_F(DialupNmTest, ADialThatFailsAndOneThatComesUpInStages) {
  // Activation refused outright: DunConnect fails with callback 0.
  ASSERT_TRUE(
      activateBy("raise dbus.exceptions.DBusException('no modem', "
                 "name='org.freedesktop.NetworkManager.UnknownDevice')"));
  EXPECT_FALSE(DunConnect());
  EXPECT_EQ((std::vector<int>{0}), gCalls.take());

  // Activation that ends in a failure: the window thread hangs up, callback 0.
  ASSERT_TRUE(activationStopsAtActivating());
  ASSERT_TRUE(DunConnect());
  const auto active = activeConnections();
  ASSERT_EQ(1u, active.size());
  ASSERT_TRUE(setActiveState(active[0], 4, 10));  // login failed
  EXPECT_EQ((std::vector<int>{0}), waitFor(0)) << "nothing before: no 1 while activating";
  EXPECT_EQ(nullptr, dialup::dunContext().connection.load());

  // The modem link comes up before the connection.
  deactivateAll();
  ASSERT_TRUE(DunConnect());
  const auto up = activeConnections();
  ASSERT_EQ(1u, up.size());
  // The device reaches the configuration stage: the link to the phone is up.
  ASSERT_TRUE(session_->bluez.call(
      kNm, kBtDevice, "org.freedesktop.DBus.Mock.EmitSignal",
      {"org.freedesktop.NetworkManager.Device", "StateChanged", "uuu", "[<uint32 50>, <uint32 40>, <uint32 0>]"}));
  EXPECT_EQ((std::vector<int>{1}), waitFor(1));
  ASSERT_TRUE(setActiveState(up[0], 2, 0));
  EXPECT_EQ((std::vector<int>{1}), waitFor(1)) << "the monitor reports the completed connection";
  ASSERT_TRUE(restoreActivation());
}

TEST_F(DialupNmTest, AConnectionThatRunsBeforeInitialisationIsFollowed) {
  DunUninitialize();
  // Another program dialled the phone with a profile of its own.
  std::string output;
  ASSERT_TRUE(session_->bluez.call(kNm, "/org/freedesktop/NetworkManager/Settings",
                                   "org.freedesktop.NetworkManager.Settings.AddConnection",
                                   {"{'connection': {'id': <'Phone by hand'>, 'type': <'bluetooth'>}, 'bluetooth': "
                                    "{'bdaddr': <[byte 0x00, 0x19, 0xa1, 0xb2, 0xc3, 0xd4]>, 'type': <'dun'>}, 'gsm': "
                                    "{'number': <'*99#'>}}"},
                                   &output));
  const auto profile = objectPaths(output);
  ASSERT_EQ(1u, profile.size());
  ASSERT_TRUE(session_->bluez.call(kNm, kNmPath, "org.freedesktop.NetworkManager.ActivateConnection",
                                   {profile[0], kBtDevice, "/"}));
  const auto active = activeConnections();
  ASSERT_EQ(1u, active.size());

  DunInitialize(kPhone);
  ASSERT_EQ(0u, DunRegisterNotification(record));
  EXPECT_NE(nullptr, dialup::dunContext().connection.load()) << "found on the phone's modem";
  ASSERT_TRUE(setActiveState(active[0], 3, 2));
  EXPECT_EQ((std::vector<int>{0}), waitFor(0)) << "reported to the callback registered afterwards";
}

TEST_F(DialupNmTest, NetworkManagerLeavingInTheMiddleOfADial) {
  ASSERT_TRUE(activationStopsAtActivating());
  ASSERT_TRUE(DunConnect());
  session_->bluez.stopNetworkManager();
  EXPECT_EQ((std::vector<int>{0}), waitFor(0)) << "the dial ends with 0";
  // The window thread forgets the connection right after the callback.
  EXPECT_TRUE(waitUntil([] { return dialup::dunContext().connection.load() == nullptr; }, 5000));
  // Without NetworkManager a dial cannot be prepared: refused at once, no callback.
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(DunConnect());
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  EXPECT_TRUE(gCalls.take().empty());
  ASSERT_TRUE(startNetworkManager());
}

// btutil dun as a user runs it, on the same mocked services.
TEST_F(DialupNmTest, BtutilConnectsWatchesAndDisconnects) {
  DunUninitialize();
  const std::string btutil = UTILS_BTUTIL_PATH;
  // Runs btutil dun for the phone: its exit code and a fragment of its output.
  const auto dun = [&btutil](std::vector<std::string> args, int code, const std::string& fragment) {
    args.insert(args.begin(), {btutil, "dun", kPhoneText});
    std::string output;
    EXPECT_EQ(code, runProgram(args, {}, &output)) << args.back() << output;
    EXPECT_NE(std::string::npos, output.find(fragment)) << args.back() << output;
  };
  dun({"connect", "--timeout", "20"}, 0, " connected=1\n");
  const auto active = activeConnections();
  ASSERT_EQ(1u, active.size()) << "the connection outlives the command";
  dun({"status"}, 0, " up\n");
  dun({"connect"}, 0, " already up\n");
  EXPECT_EQ(1u, activeConnections().size()) << "no second dial";

  // watch follows the running connection and prints each report with its time.
  const std::string log = session_->folder.path() + "/watch.log";
  {
    ChildProcess watch({btutil, "dun", kPhoneText, "watch", "--seconds", "50"}, {}, log);
    ASSERT_TRUE(waitForText(log, "watching " + std::string(kPhoneText) + " (up) for 50 s")) << readFileText(log);
    ASSERT_TRUE(setActiveState(active[0], 3, 2));
    EXPECT_TRUE(waitForText(log, " connected=0\n")) << readFileText(log);
    EXPECT_EQ(0, watch.stop()) << "SIGTERM ends the watch cleanly";
    EXPECT_TRUE(waitForText(log, " stopped\n")) << readFileText(log);
  }

  dun({"disconnect", "--timeout", "20"}, 0, " down\n");
  EXPECT_TRUE(activeConnections().empty());
  dun({"status"}, 1, "no connection");

  // A dial that fails is a negative answer; a bad command line changes nothing.
  ASSERT_TRUE(activationStopsAtActivating());
  ChildProcess failing({btutil, "dun", kPhoneText, "connect", "--timeout", "50"}, {}, log);
  std::vector<std::string> dialling;
  ASSERT_TRUE(waitUntil([&] { return !(dialling = activeConnections()).empty(); }));
  ASSERT_EQ(1u, dialling.size());
  ASSERT_TRUE(setActiveState(dialling[0], 4, 10));  // login failed
  waitUntil([&] { return !failing.running(); });
  EXPECT_EQ(1, failing.stop()) << readFileText(log);
  EXPECT_NE(std::string::npos, readFileText(log).find(" connected=0\n")) << readFileText(log);
  ASSERT_TRUE(restoreActivation());
  const size_t before = activeConnections().size();
  for (const auto& args :
       std::vector<std::vector<std::string>>{{"status", "--seconds", "5"}, {"connect", "--timeout", "-1"}, {}}) {
    dun(args, 2, "");
  }
  EXPECT_EQ(before, activeConnections().size()) << "a refused command line dials nothing";

  // Without NetworkManager the dial cannot be prepared: the system's refusal.
  session_->bluez.stopNetworkManager();
  dun({"connect", "--timeout", "20"}, 3, "could not be prepared");
  ASSERT_TRUE(startNetworkManager());
}

}  // namespace
}  // namespace utils::test
