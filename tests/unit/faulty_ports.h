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

class FaultyRegistry : public port::RegistryPort {
 public:
  FaultyRegistry(port::RegistryPort& inner, FaultPlan& plan) : in_(inner), plan_(plan) {}
  DWORD openKey(HKEY r, const wchar_t* s, REGSAM a, HKEY* k) override { return plan_.enter(), in_.openKey(r, s, a, k); }
  DWORD createKey(HKEY r, const wchar_t* s, REGSAM a, HKEY* k, DWORD* d) override {
    return plan_.enter(), in_.createKey(r, s, a, k, d);
  }
  DWORD closeKey(HKEY k) override { return in_.closeKey(k); }
  DWORD queryValue(HKEY k, const wchar_t* n, DWORD* t, BYTE* d, DWORD* s) override {
    return plan_.enter(), in_.queryValue(k, n, t, d, s);
  }
  DWORD setValue(HKEY k, const wchar_t* n, DWORD t, const BYTE* d, DWORD s) override {
    return plan_.enter(), in_.setValue(k, n, t, d, s);
  }
  DWORD deleteValue(HKEY k, const wchar_t* n) override { return plan_.enter(), in_.deleteValue(k, n); }
  DWORD deleteTree(HKEY k, const wchar_t* s) override { return plan_.enter(), in_.deleteTree(k, s); }
  DWORD enumValue(HKEY k, DWORD i, wchar_t* n, DWORD* c, DWORD* t, BYTE* d, DWORD* s) override {
    return plan_.enter(), in_.enumValue(k, i, n, c, t, d, s);
  }
  DWORD enumKey(HKEY k, DWORD i, wchar_t* n, DWORD* c) override { return plan_.enter(), in_.enumKey(k, i, n, c); }
  DWORD queryInfoKey(HKEY k, DWORD* s, DWORD* v) override { return plan_.enter(), in_.queryInfoKey(k, s, v); }

 private:
  port::RegistryPort& in_;
  FaultPlan& plan_;
};

class FaultyRadio : public port::RadioPort {
 public:
  FaultyRadio(port::RadioPort& inner, FaultPlan& plan) : in_(inner), plan_(plan) {}
  DWORD findFirstRadio(HANDLE* s, HANDLE* r) override { return plan_.enter(), in_.findFirstRadio(s, r); }
  DWORD findRadioClose(HANDLE s) override { return in_.findRadioClose(s); }
  DWORD getRadioInfo(HANDLE r, BLUETOOTH_RADIO_INFO* i) override { return plan_.enter(), in_.getRadioInfo(r, i); }
  DWORD getDeviceInfo(HANDLE r, BLUETOOTH_DEVICE_INFO* i) override { return plan_.enter(), in_.getDeviceInfo(r, i); }
  DWORD rememberedDevices(HANDLE r, std::vector<BLUETOOTH_DEVICE_INFO>* d) override {
    return plan_.enter(), in_.rememberedDevices(r, d);
  }
  DWORD setServiceState(HANDLE r, const BLUETOOTH_DEVICE_INFO& d, const GUID& g, DWORD s) override {
    return plan_.enter(), in_.setServiceState(r, d, g, s);
  }
  DWORD listRadioInterfaces(std::vector<port::RadioInterface>* i) override {
    return plan_.enter(), in_.listRadioInterfaces(i);
  }
  DWORD openRadioInterface(const wchar_t* p, HANDLE* h) override { return plan_.enter(), in_.openRadioInterface(p, h); }
  DWORD listRadioDevices(DWORD u, std::vector<port::RadioDevice>* d) override {
    return plan_.enter(), in_.listRadioDevices(u, d);
  }
  DWORD close(HANDLE h) override { return in_.close(h); }

 private:
  port::RadioPort& in_;
  FaultPlan& plan_;
};

class FaultyBus : public port::BusPort {
 public:
  FaultyBus(port::BusPort& inner, FaultPlan& plan) : in_(inner), plan_(plan) {}
  DWORD findFirstInterface(port::BusInterface* f) override { return plan_.enter(), in_.findFirstInterface(f); }
  DWORD open(const wchar_t* p, HANDLE* h) override { return plan_.enter(), in_.open(p, h); }
  DWORD ioControl(HANDLE b, DWORD c, const void* i, DWORD is, void* o, DWORD os, DWORD* r) override {
    return plan_.enter(), in_.ioControl(b, c, i, is, o, os, r);
  }
  DWORD close(HANDLE b) override { return in_.close(b); }

 private:
  port::BusPort& in_;
  FaultPlan& plan_;
};

class FaultyRfcomm : public port::RfcommPort {
 public:
  FaultyRfcomm(port::RfcommPort& inner, FaultPlan& plan) : in_(inner), plan_(plan) {}
  DWORD startup() override { return plan_.enter(), in_.startup(); }
  void cleanup() override { in_.cleanup(); }
  DWORD probe(port::RfcommProbe* r) override { return plan_.enter(), in_.probe(r); }

 private:
  port::RfcommPort& in_;
  FaultPlan& plan_;
};

class FaultyNotification : public port::NotificationPort {
 public:
  FaultyNotification(port::NotificationPort& inner, FaultPlan& plan) : in_(inner), plan_(plan) {}
  DWORD createWindow(const wchar_t* c, port::MessageWindowHandler* h, HWND* w) override {
    return plan_.enter(), in_.createWindow(c, h, w);
  }
  DWORD destroyWindow(HWND w) override { return in_.destroyWindow(w); }
  UINT registerMessage(const char* n) override { return plan_.enter(), in_.registerMessage(n); }
  DWORD registerInterfaceNotification(HWND w, const GUID& g, HDEVNOTIFY* r) override {
    return plan_.enter(), in_.registerInterfaceNotification(w, g, r);
  }
  DWORD registerHandleNotification(HWND w, HANDLE h, HDEVNOTIFY* r) override {
    return plan_.enter(), in_.registerHandleNotification(w, h, r);
  }
  DWORD unregisterNotification(HDEVNOTIFY r) override { return in_.unregisterNotification(r); }
  DWORD createWakeEvent(std::unique_ptr<port::WakeEvent>* e) override { return plan_.enter(), in_.createWakeEvent(e); }
  DWORD startThread(std::function<void()> e, std::unique_ptr<port::WorkerThread>* t) override {
    return plan_.enter(), in_.startThread(std::move(e), t);
  }
  DWORD holdMessages(HWND w) override { return plan_.enter(), in_.holdMessages(w); }
  DWORD releaseMessages(HWND w) override { return in_.releaseMessages(w); }

 private:
  port::NotificationPort& in_;
  FaultPlan& plan_;
};

class FaultyDialup : public port::DialupPort {
 public:
  FaultyDialup(port::DialupPort& inner, FaultPlan& plan) : in_(inner), plan_(plan) {}
  DWORD listModems(DWORD u, std::vector<port::ModemDevice>* m) override { return plan_.enter(), in_.listModems(u, m); }
  DWORD listConnections(std::vector<port::ActiveConnection>* c) override {
    return plan_.enter(), in_.listConnections(c);
  }
  DWORD readDefaultEntry(port::PhonebookEntry* e) override { return plan_.enter(), in_.readDefaultEntry(e); }
  DWORD writeEntry(const wchar_t* n, const port::PhonebookEntry& e) override {
    return plan_.enter(), in_.writeEntry(n, e);
  }
  DWORD dial(const wchar_t* n, const wchar_t* p, HWND w, port::DialConnection* c) override {
    return plan_.enter(), in_.dial(n, p, w, c);
  }
  DWORD hangUp(port::DialConnection c) override { return in_.hangUp(c); }
  DWORD getStatus(port::DialConnection c, port::ConnectionStatus* s) override {
    return plan_.enter(), in_.getStatus(c, s);
  }
  DWORD notifyOnChange(port::DialConnection c, HANDLE e, DWORD f) override {
    return plan_.enter(), in_.notifyOnChange(c, e, f);
  }
  DWORD createEvent(HANDLE* e) override { return plan_.enter(), in_.createEvent(e); }
  DWORD setEvent(HANDLE e) override { return plan_.enter(), in_.setEvent(e); }
  DWORD resetEvent(HANDLE e) override { return plan_.enter(), in_.resetEvent(e); }
  DWORD waitEvent(HANDLE e, DWORD ms) override { return plan_.enter(), in_.waitEvent(e, ms); }
  DWORD closeEvent(HANDLE e) override { return in_.closeEvent(e); }

 private:
  port::DialupPort& in_;
  FaultPlan& plan_;
};

class FaultyShell : public port::ShellPort {
 public:
  FaultyShell(port::ShellPort& inner, FaultPlan& plan) : in_(inner), plan_(plan) {}
  LANGID userUiLanguage() override { return plan_.enter(), in_.userUiLanguage(); }
  DWORD osVersion(DWORD* a, DWORD* i) override { return plan_.enter(), in_.osVersion(a, i); }
  DWORD createAppVisibility(std::unique_ptr<port::AppVisibility>* o) override {
    return plan_.enter(), in_.createAppVisibility(o);
  }
  HWND findWindow(const wchar_t* c) override { return plan_.enter(), in_.findWindow(c); }
  HMONITOR monitorFromWindow(HWND w) override { return plan_.enter(), in_.monitorFromWindow(w); }

 private:
  port::ShellPort& in_;
  FaultPlan& plan_;
};

class FaultyModules : public port::ModulePort {
 public:
  FaultyModules(port::ModulePort& inner, FaultPlan& plan) : in_(inner), plan_(plan) {}
  DWORD load(const wchar_t* n, HMODULE* m) override { return plan_.enter(), in_.load(n, m); }
  DWORD entry(HMODULE m, const char* n, port::ModuleEntry* e) override { return plan_.enter(), in_.entry(m, n, e); }
  DWORD release(HMODULE m) override { return in_.release(m); }

 private:
  port::ModulePort& in_;
  FaultPlan& plan_;
};

class FaultyCredentials : public port::CredentialsPort {
 public:
  FaultyCredentials(port::CredentialsPort& inner, FaultPlan& plan) : in_(inner), plan_(plan) {}
  port::EnteredCredentials* allocateCredentials() override { return plan_.enter(), in_.allocateCredentials(); }
  void releaseCredentials(port::EnteredCredentials* r) override { in_.releaseCredentials(r); }
  DWORD sessionAccount(port::SessionAccount* a) override { return plan_.enter(), in_.sessionAccount(a); }
  DWORD authenticationPackage(const char* n, ULONG* i) override {
    return plan_.enter(), in_.authenticationPackage(n, i);
  }
  DWORD promptForPassword(const port::PasswordPrompt& p, port::EnteredCredentials* e, port::PromptStep* f) override {
    return plan_.enter(), in_.promptForPassword(p, e, f);
  }
  DWORD logon(const wchar_t* u, const wchar_t* d, const wchar_t* p) override {
    return plan_.enter(), in_.logon(u, d, p);
  }
  DWORD showInvalidPasswordWarning(HWND p) override { return plan_.enter(), in_.showInvalidPasswordWarning(p); }

 private:
  port::CredentialsPort& in_;
  FaultPlan& plan_;
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
