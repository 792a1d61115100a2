// Ports that forward every call to the simulated platform, except one chosen
// call, which throws std::bad_alloc as a failed allocation inside a real adapter
// would. Only calls made on the test's own thread count, so the failing call is
// the same on every run. Calls that release something (closing a key or handle,
// ending a search, a registration, a window, a connection, an event, a hold
// of messages, a library or a credentials record) never fail: they run in
// destructors and on clean-up paths.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <new>
#include <thread>

#include "port/platform.h"
#include "port/sim/sim_platform.h"

namespace utils::test {

// Counts the calls of the test's thread and throws at the chosen one. Library
// threads call in too (and are not counted), so the plan is read atomically.
class FaultPlan {
 public:
  // Fails the n-th counted call from now on (1 is the next one); 0 fails none.
  void failCall(size_t n) {
    countdown_ = n;
    fired_ = false;
    owner_ = std::this_thread::get_id();
  }
  // Fails no further call; fired() still tells whether the chosen one was made.
  void disarm() { countdown_ = 0; }
  // Whether the chosen call was made (and threw).
  bool fired() const { return fired_; }

  void enter() {
    if (countdown_.load() == 0 || std::this_thread::get_id() != owner_.load()) return;
    if (--countdown_ == 0) {
      fired_ = true;
      throw std::bad_alloc();
    }
  }

 private:
  std::atomic<size_t> countdown_{0};
  std::atomic<bool> fired_{false};
  std::atomic<std::thread::id> owner_;
};

// A port that forwards to the simulation's: next() gives the plan its chance to
// fail first; releasing calls go to in_ directly.
template <typename Port>
class Faulty : public Port {
 public:
  Faulty(Port& inner, FaultPlan& plan) : in_(inner), plan_(plan) {}

 protected:
  using Text = const wchar_t*;  // spelled short, so that each forwarder fits a line
  Port& next() { return plan_.enter(), in_; }
  Port& in_;
  FaultPlan& plan_;
};

struct FaultyRegistry : Faulty<port::RegistryPort> {
  using Faulty::Faulty;
  DWORD openKey(HKEY r, Text s, REGSAM a, HKEY* k) override { return next().openKey(r, s, a, k); }
  DWORD createKey(HKEY r, Text s, REGSAM a, HKEY* k, DWORD* d) override { return next().createKey(r, s, a, k, d); }
  DWORD closeKey(HKEY k) override { return in_.closeKey(k); }
  DWORD queryValue(HKEY k, Text n, DWORD* t, BYTE* d, DWORD* s) override { return next().queryValue(k, n, t, d, s); }
  DWORD setValue(HKEY k, Text n, DWORD t, const BYTE* d, DWORD s) override { return next().setValue(k, n, t, d, s); }
  DWORD deleteValue(HKEY k, Text n) override { return next().deleteValue(k, n); }
  DWORD deleteTree(HKEY k, Text s) override { return next().deleteTree(k, s); }
  DWORD enumValue(HKEY k, DWORD i, wchar_t* n, DWORD* c, DWORD* t, BYTE* d, DWORD* s) override {
    return next().enumValue(k, i, n, c, t, d, s);
  }
  DWORD enumKey(HKEY k, DWORD i, wchar_t* n, DWORD* c) override { return next().enumKey(k, i, n, c); }
  DWORD queryInfoKey(HKEY k, DWORD* s, DWORD* v) override { return next().queryInfoKey(k, s, v); }
};

struct FaultyRadio : Faulty<port::RadioPort> {
  using Faulty::Faulty;
  DWORD findFirstRadio(HANDLE* s, HANDLE* r) override { return next().findFirstRadio(s, r); }
  DWORD findRadioClose(HANDLE s) override { return in_.findRadioClose(s); }
  DWORD getRadioInfo(HANDLE r, BLUETOOTH_RADIO_INFO* i) override { return next().getRadioInfo(r, i); }
  DWORD getDeviceInfo(HANDLE r, BLUETOOTH_DEVICE_INFO* i) override { return next().getDeviceInfo(r, i); }
  DWORD rememberedDevices(HANDLE r, std::vector<BLUETOOTH_DEVICE_INFO>* d) override {
    return next().rememberedDevices(r, d);
  }
  DWORD setServiceState(HANDLE r, const BLUETOOTH_DEVICE_INFO& d, const GUID& g, DWORD s) override {
    return next().setServiceState(r, d, g, s);
  }
  DWORD listRadioInterfaces(std::vector<port::RadioInterface>* i) override { return next().listRadioInterfaces(i); }
  DWORD openRadioInterface(Text p, HANDLE* h) override { return next().openRadioInterface(p, h); }
  DWORD listRadioDevices(DWORD u, std::vector<port::RadioDevice>* d) override { return next().listRadioDevices(u, d); }
  DWORD close(HANDLE h) override { return in_.close(h); }
};

struct FaultyBus : Faulty<port::BusPort> {
  using Faulty::Faulty;
  DWORD findFirstInterface(port::BusInterface* f) override { return next().findFirstInterface(f); }
  DWORD open(Text p, HANDLE* h) override { return next().open(p, h); }
  DWORD ioControl(HANDLE b, DWORD c, const void* i, DWORD is, void* o, DWORD os, DWORD* r) override {
    return next().ioControl(b, c, i, is, o, os, r);
  }
  DWORD close(HANDLE b) override { return in_.close(b); }
};

struct FaultyRfcomm : Faulty<port::RfcommPort> {
  using Faulty::Faulty;
  DWORD startup() override { return next().startup(); }
  void cleanup() override { in_.cleanup(); }
  DWORD probe(port::RfcommProbe* r) override { return next().probe(r); }
};

struct FaultyNotification : Faulty<port::NotificationPort> {
  using Faulty::Faulty;
  DWORD createWindow(Text c, port::MessageWindowHandler* h, HWND* w) override { return next().createWindow(c, h, w); }
  DWORD destroyWindow(HWND w) override { return in_.destroyWindow(w); }
  UINT registerMessage(const char* n) override { return next().registerMessage(n); }
  DWORD registerInterfaceNotification(HWND w, const GUID& g, HDEVNOTIFY* r) override {
    return next().registerInterfaceNotification(w, g, r);
  }
  DWORD registerHandleNotification(HWND w, HANDLE h, HDEVNOTIFY* r) override {
    return next().registerHandleNotification(w, h, r);
  }
  DWORD unregisterNotification(HDEVNOTIFY r) override { return in_.unregisterNotification(r); }
  DWORD createWakeEvent(std::unique_ptr<port::WakeEvent>* e) override { return next().createWakeEvent(e); }
  DWORD startThread(std::function<void()> e, std::unique_ptr<port::WorkerThread>* t) override {
    return next().startThread(std::move(e), t);
  }
  DWORD holdMessages(HWND w) override { return next().holdMessages(w); }
  DWORD releaseMessages(HWND w) override { return in_.releaseMessages(w); }
};

struct FaultyDialup : Faulty<port::DialupPort> {
  using Faulty::Faulty;
  DWORD listModems(DWORD u, std::vector<port::ModemDevice>* m) override { return next().listModems(u, m); }
  DWORD listConnections(std::vector<port::ActiveConnection>* c) override { return next().listConnections(c); }
  DWORD readDefaultEntry(port::PhonebookEntry* e) override { return next().readDefaultEntry(e); }
  DWORD writeEntry(Text n, const port::PhonebookEntry& e) override { return next().writeEntry(n, e); }
  DWORD dial(Text n, Text p, HWND w, port::DialConnection* c) override { return next().dial(n, p, w, c); }
  DWORD hangUp(port::DialConnection c) override { return in_.hangUp(c); }
  DWORD getStatus(port::DialConnection c, port::ConnectionStatus* s) override { return next().getStatus(c, s); }
  DWORD notifyOnChange(port::DialConnection c, HANDLE e, DWORD f) override { return next().notifyOnChange(c, e, f); }
  DWORD createEvent(HANDLE* e) override { return next().createEvent(e); }
  DWORD setEvent(HANDLE e) override { return next().setEvent(e); }
  DWORD resetEvent(HANDLE e) override { return next().resetEvent(e); }
  DWORD waitEvent(HANDLE e, DWORD ms) override { return next().waitEvent(e, ms); }
  DWORD closeEvent(HANDLE e) override { return in_.closeEvent(e); }
};

struct FaultyShell : Faulty<port::ShellPort> {
  using Faulty::Faulty;
  LANGID userUiLanguage() override { return next().userUiLanguage(); }
  DWORD osVersion(DWORD* a, DWORD* i) override { return next().osVersion(a, i); }
  DWORD createAppVisibility(std::unique_ptr<port::AppVisibility>* o) override { return next().createAppVisibility(o); }
  HWND findWindow(Text c) override { return next().findWindow(c); }
  HMONITOR monitorFromWindow(HWND w) override { return next().monitorFromWindow(w); }
};

struct FaultyModules : Faulty<port::ModulePort> {
  using Faulty::Faulty;
  DWORD load(Text n, HMODULE* m) override { return next().load(n, m); }
  DWORD entry(HMODULE m, const char* n, port::ModuleEntry* e) override { return next().entry(m, n, e); }
  DWORD release(HMODULE m) override { return in_.release(m); }
};

struct FaultyCredentials : Faulty<port::CredentialsPort> {
  using Faulty::Faulty;
  port::EnteredCredentials* allocateCredentials() override { return next().allocateCredentials(); }
  void releaseCredentials(port::EnteredCredentials* r) override { in_.releaseCredentials(r); }
  DWORD sessionAccount(port::SessionAccount* a) override { return next().sessionAccount(a); }
  DWORD authenticationPackage(const char* n, ULONG* i) override { return next().authenticationPackage(n, i); }
  DWORD promptForPassword(const port::PasswordPrompt& p, port::EnteredCredentials* e, port::PromptStep* f) override {
    return next().promptForPassword(p, e, f);
  }
  DWORD logon(Text u, Text d, Text p) override { return next().logon(u, d, p); }
  DWORD showInvalidPasswordWarning(HWND p) override { return next().showInvalidPasswordWarning(p); }
};

// The simulated platform with every port above in front of its own.
struct FaultyPlatform {
  explicit FaultyPlatform(sim::SimPlatform& sim)
      : registry(sim.registry, plan),
        radio(sim.radio, plan),
        bus(sim.bus, plan),
        rfcomm(sim.rfcomm, plan),
        notification(sim.notification, plan),
        dialup(sim.dialup, plan),
        shell(sim.shell, plan),
        modules(sim.modules, plan),
        credentials(sim.credentials, plan) {}

  // Installs these ports in front of the simulation's (call after its install).
  void install() {
    port::Platform record = port::platform();
    record.registry = &registry;
    record.radio = &radio;
    record.bus = &bus;
    record.rfcomm = &rfcomm;
    record.notification = &notification;
    record.dialup = &dialup;
    record.shell = &shell;
    record.module = &modules;
    record.credentials = &credentials;
    port::installPlatform(record);
  }

  FaultPlan plan;
  FaultyRegistry registry;
  FaultyRadio radio;
  FaultyBus bus;
  FaultyRfcomm rfcomm;
  FaultyNotification notification;
  FaultyDialup dialup;
  FaultyShell shell;
  FaultyModules modules;
  FaultyCredentials credentials;
};

}  // namespace utils::test
