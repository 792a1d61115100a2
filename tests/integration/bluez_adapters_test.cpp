// The Linux adapters that follow the Bluetooth daemon, against python3-dbusmock's
// BlueZ on a private system bus: the socket probe asks for a usable radio, the
// change watch takes signals from the daemon only, and the controller's version
// is asked once per adapter.
#include <gtest/gtest.h>
#include <poll.h>
#include <systemd/sd-bus.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "port/linux/bluez_radio.h"
#include "port/linux/bluez_watch.h"
#include "port/linux/rfcomm_probe.h"
#include "radio_test_env.h"

namespace utils::test {
namespace {

constexpr const char* kDevicePath = "/org/bluez/hci0/dev_11_22_33_44_55_01";

class BluezAdaptersTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { session_ = new BluezSession("", false, false); }
  static void TearDownTestSuite() { delete session_; }

  static BluezSession* session_;
};

BluezSession* BluezAdaptersTest::session_ = nullptr;

// Processes the watch until count changes have arrived (or 5 s pass); returns
// what came.
std::vector<linuxport::BluezChange> nextChanges(linuxport::BluezWatch& watch, size_t count) {
  std::vector<linuxport::BluezChange> changes;
  waitUntil(
      [&] {
        pollfd entry{watch.fd(), watch.events(), 0};
        const int timeout = watch.timeoutMs();
        ::poll(&entry, 1, timeout < 0 || timeout > 100 ? 100 : timeout);
        return watch.process(&changes) < 0 || changes.size() >= count;
      },
      5000);
  return changes;
}

// Another client of the bus: it sends signals that only the Bluetooth daemon
// should send, to everyone and to each connection by name, claiming first that
// it owns org.bluez now.
class Impostor {
 public:
  Impostor() { EXPECT_GE(sd_bus_open_system(&bus_), 0); }
  ~Impostor() { sd_bus_flush_close_unref(bus_); }

  void fakeEverything() {
    const char* self = nullptr;
    ASSERT_GE(sd_bus_get_unique_name(bus_, &self), 0);
    std::vector<std::string> targets{""};  // "": a broadcast
    sd_bus_message* reply = nullptr;
    ASSERT_GE(sd_bus_call_method(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                 "ListNames", nullptr, &reply, ""),
              0);
    char** names = nullptr;
    ASSERT_GE(sd_bus_message_read_strv(reply, &names), 0);
    for (char** name = names; *name != nullptr; ++name) {
      if ((*name)[0] == ':' && std::string(*name) != self) targets.push_back(*name);
      free(*name);
    }
    free(names);
    sd_bus_message_unref(reply);
    for (const auto& target : targets) {
      emit(target, "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameOwnerChanged",
           [self](sd_bus_message* m) { return sd_bus_message_append(m, "sss", "org.bluez", "", self); });
      emit(target, kDevicePath, "org.freedesktop.DBus.Properties", "PropertiesChanged", [](sd_bus_message* m) {
        return sd_bus_message_append(m, "sa{sv}as", "org.bluez.Device1", 1, "Connected", "b", 1, 0);
      });
      emit(target, "/", "org.freedesktop.DBus.ObjectManager", "InterfacesAdded", [](sd_bus_message* m) {
        return sd_bus_message_append(m, "oa{sa{sv}}", "/org/bluez/hci7", 1, "org.bluez.Adapter1", 1, "Powered", "b", 1);
      });
      emit(target, "/", "org.freedesktop.DBus.ObjectManager", "InterfacesRemoved", [](sd_bus_message* m) {
        return sd_bus_message_append(m, "oas", "/org/bluez/hci0", 1, "org.bluez.Adapter1");
      });
    }
    // A round trip: the bus has handled every signal above once it answers.
    ASSERT_GE(sd_bus_call_method(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId",
                                 nullptr, &reply, ""),
              0);
    sd_bus_message_unref(reply);
  }

 private:
  template <class Append>
  void emit(const std::string& destination, const char* path, const char* interface, const char* member,
            Append append) {
    sd_bus_message* message = nullptr;
    ASSERT_GE(sd_bus_message_new_signal(bus_, &message, path, interface, member), 0);
    if (!destination.empty()) {
      ASSERT_GE(sd_bus_message_set_destination(message, destination.c_str()), 0);
    }
    EXPECT_GE(append(message), 0);
    EXPECT_GE(sd_bus_send(bus_, message, nullptr), 0);
    sd_bus_message_unref(message);
  }

  sd_bus* bus_ = nullptr;
};

// Runs first: the bus has no adapter yet.
TEST_F(BluezAdaptersTest, TheSocketProbeNeedsAPoweredAdapter) {
  linuxport::BluezRadio radio([](WORD*, WORD*) { return false; });
  linuxport::LinuxRfcomm rfcomm(
      [&radio](uint64_t* address, bool* powered) { return radio.firstAdapterState(address, powered); });
  port::RfcommProbe probe;
  EXPECT_EQ(linuxport::kWsaAddressNotAvailable, rfcomm.probe(&probe)) << "no adapter";
  EXPECT_EQ(port::RfcommProbeStep::kBind, probe.failedStep);
  EXPECT_EQ(0u, probe.socket);

  ASSERT_TRUE(session_->bluez.mock("AddAdapter", {"string:hci0", "string:Test Radio"}));
  ASSERT_TRUE(session_->bluez.setProperty("/org/bluez/hci0", "org.bluez.Adapter1", "Powered", "<false>"));
  EXPECT_EQ(linuxport::kWsaNetworkDown, rfcomm.probe(&probe)) << "adapter powered off";
  EXPECT_EQ(port::RfcommProbeStep::kBind, probe.failedStep);

  // Powered: the socket itself is tried, bound to the adapter's address. Where
  // the kernel has Bluetooth but not this (mocked) adapter, that bind fails.
  ASSERT_TRUE(session_->bluez.setProperty("/org/bluez/hci0", "org.bluez.Adapter1", "Powered", "<true>"));
  uint64_t address = 0;
  bool powered = false;
  ASSERT_EQ(0u, radio.firstAdapterState(&address, &powered));
  EXPECT_EQ(0x000102030405ULL, address);
  EXPECT_TRUE(powered);
  const DWORD error = rfcomm.probe(&probe);
  if (probe.failedStep == port::RfcommProbeStep::kSocket) {
    EXPECT_TRUE(error == 10047 || error == 10043 || error == 10044) << error;
  } else {
    EXPECT_EQ(port::RfcommProbeStep::kBind, probe.failedStep);
    EXPECT_EQ(linuxport::kWsaAddressNotAvailable, error);
    EXPECT_NE(0u, probe.socket);
  }
  ASSERT_TRUE(session_->bluez.mock("AddDevice", {"string:hci0", "string:11:22:33:44:55:01", "string:Phone"}));
}

TEST_F(BluezAdaptersTest, TheWatchTakesSignalsFromTheBluetoothDaemonOnly) {
  std::unique_ptr<linuxport::BluezWatch> watch;
  ASSERT_EQ(0, linuxport::BluezWatch::open(&watch));
  Impostor impostor;
  impostor.fakeEverything();
  // The daemon's own change comes after every fake one; it is the only one seen.
  ASSERT_TRUE(session_->bluez.mock("ConnectDevice", {"string:hci0", "string:11:22:33:44:55:01"}));
  auto changes = nextChanges(*watch, 1);
  ASSERT_EQ(1u, changes.size());
  EXPECT_EQ(linuxport::BluezChange::Kind::kConnection, changes[0].kind);
  EXPECT_EQ(kDevicePath, changes[0].path);
  EXPECT_TRUE(changes[0].connected);

  ASSERT_TRUE(session_->bluez.mock("DisconnectDevice", {"string:hci0", "string:11:22:33:44:55:01"}));
  impostor.fakeEverything();
  ASSERT_TRUE(session_->bluez.mock("AddAdapter", {"string:hci1", "string:Second Radio"}));
  changes = nextChanges(*watch, 2);
  ASSERT_EQ(2u, changes.size());
  EXPECT_FALSE(changes[0].connected);
  EXPECT_EQ(linuxport::BluezChange::Kind::kAdapterAdded, changes[1].kind);
  EXPECT_EQ("/org/bluez/hci1", changes[1].path);
  ASSERT_TRUE(session_->bluez.mock("RemoveAdapter", {"string:hci1"}));
}

TEST_F(BluezAdaptersTest, TheControllerIsAskedItsVersionOnceWhileTheAdapterStays) {
  int asked = 0;
  bool answers = false;
  linuxport::BluezRadio radio([&](WORD* manufacturer, WORD* subversion) {
    ++asked;
    *manufacturer = 0x1D;
    *subversion = static_cast<WORD>(0x100 + asked);
    return answers;
  });
  // This test's own adapter, the only one.
  session_->bluez.mock("RemoveAdapter", {"string:hci0"});
  ASSERT_TRUE(session_->bluez.mock("AddAdapter", {"string:hci4", "string:Versioned Radio"}));
  HANDLE search = nullptr, handle = nullptr;
  ASSERT_EQ(0u, radio.findFirstRadio(&search, &handle));
  BLUETOOTH_RADIO_INFO info{};
  const auto read = [&] {
    info = BLUETOOTH_RADIO_INFO{};
    info.dwSize = sizeof info;
    EXPECT_EQ(0u, radio.getRadioInfo(handle, &info));
  };
  // A controller that cannot say is asked again next time.
  read();
  read();
  EXPECT_EQ(2, asked);
  EXPECT_EQ(0u, info.manufacturer);
  answers = true;
  read();
  read();
  read();
  EXPECT_EQ(3, asked);
  EXPECT_EQ(0x1Du, info.manufacturer);
  EXPECT_EQ(0x103u, info.lmpSubversion);
  EXPECT_EQ(0u, radio.close(handle));
  EXPECT_EQ(0u, radio.findRadioClose(search));
  // Another adapter in its place: asked again.
  ASSERT_TRUE(session_->bluez.mock("RemoveAdapter", {"string:hci4"}));
  ASSERT_TRUE(session_->bluez.mock("AddAdapter", {"string:hci5", "string:Other Radio"}));
  ASSERT_EQ(0u, radio.findFirstRadio(&search, &handle));
  read();
  EXPECT_EQ(4, asked);
  EXPECT_EQ(0x104u, info.lmpSubversion);
  EXPECT_EQ(0u, radio.close(handle));
  EXPECT_EQ(0u, radio.findRadioClose(search));
  ASSERT_TRUE(session_->bluez.mock("RemoveAdapter", {"string:hci5"}));
}

}  // namespace
}  // namespace utils::test
