// A simulated dialler: the phones' modems, the active connections, a phonebook
// entry store, and a scripted dial whose progress the test steps. Dial progress
// is posted to the notifier window through the simulated notification port (and
// delivered by its pump()); the events are its wake events, so a monitor thread
// waiting on one counts as idle for settle(), in virtual time.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "port/dialup_port.h"
#include "port/notification_port.h"

namespace utils::sim {

class SimNotification;

class SimDialup : public port::DialupPort {
 public:
  explicit SimDialup(SimNotification& notification) : notification_(notification) {}

  DWORD listModems(DWORD propertyUnits, std::vector<port::ModemDevice>* modems) override;
  DWORD listConnections(std::vector<port::ActiveConnection>* connections) override;
  DWORD readDefaultEntry(port::PhonebookEntry* entry) override;
  DWORD writeEntry(const wchar_t* name, const port::PhonebookEntry& entry) override;
  DWORD dial(const wchar_t* entryName, const wchar_t* phoneNumber, HWND notifier,
             port::DialConnection* connection) override;
  DWORD hangUp(port::DialConnection connection) override;
  DWORD getStatus(port::DialConnection connection, port::ConnectionStatus* status) override;
  DWORD notifyOnChange(port::DialConnection connection, HANDLE event, DWORD flags) override;
  DWORD createEvent(HANDLE* event) override;
  DWORD setEvent(HANDLE event) override;
  DWORD resetEvent(HANDLE event) override;
  DWORD waitEvent(HANDLE event, DWORD ms) override;
  DWORD closeEvent(HANDLE event) override;

  // Test controls: modems and the entry store.
  void addModem(const std::wstring& address, const std::wstring& friendlyName, DWORD addressError = 0,
                DWORD nameError = 0);
  void clearModems();
  void failListModems(DWORD error);
  void failListConnections(DWORD error);
  void failReadDefaultEntry(DWORD error);
  void failWriteEntry(DWORD error);
  void setDefaultEntry(const port::PhonebookEntry& entry);
  std::optional<port::PhonebookEntry> entry(const std::wstring& name) const;
  std::vector<std::wstring> entryNamesWritten() const;
  // The units listModems was last asked for.
  DWORD lastPropertyUnits() const;

  // Test controls: connections. Changes to and from kRasConnected and removal
  // signal the events asked for with notifyOnChange.
  port::DialConnection addConnection(const std::wstring& deviceName, DWORD state);
  void setState(port::DialConnection connection, DWORD state);
  void removeConnection(port::DialConnection connection);
  bool knows(port::DialConnection connection) const;
  size_t notificationsAsked(port::DialConnection connection) const;

  // Test controls: the scripted dialler.
  struct Dial {
    std::wstring entryName;
    std::wstring phoneNumber;
    HWND notifier = nullptr;
    port::DialConnection connection = nullptr;
  };
  std::vector<Dial> dials() const;
  // The next dials fail to start with error; withConnection: a connection is
  // still handed out (and has to be hung up).
  void failDial(DWORD error, bool withConnection = false);
  // Progress of the last dial: its connection takes state (error 0) and the
  // message "RasDialEvent" (state, error) is posted to its notifier.
  void step(DWORD state, DWORD error = 0);

  // Test controls: hanging up and status.
  // After a hang-up the connection stays known for this many status reads
  // (SIZE_MAX: for ever); 0 releases it at once.
  void keepAfterHangUp(size_t statusReads);
  std::vector<port::DialConnection> hangUps() const;
  // Status reads of known connections fail with error (0: they succeed).
  void failStatus(DWORD error);
  size_t statusReads() const;
  size_t openEvents() const;
  // Called (outside the simulation's lock, on the reading thread) at the start
  // of every status read: lets a test hold a reader at a known point.
  void onStatusRead(std::function<void()> hook);

 private:
  struct Connection {
    std::wstring deviceName;
    DWORD state = 0;
    bool hungUp = false;
    size_t readsLeft = 0;  // after a hang-up
    std::vector<std::pair<HANDLE, DWORD>> notifications;
  };

  port::DialConnection addConnectionLocked(const std::wstring& deviceName, DWORD state);
  void signalLocked(const Connection& connection, DWORD flag);
  void removeLocked(port::DialConnection connection);

  SimNotification& notification_;
  mutable std::mutex mutex_;
  std::vector<port::ModemDevice> modems_;
  std::vector<port::DialConnection> order_;
  std::map<port::DialConnection, Connection> connections_;
  std::map<HANDLE, std::shared_ptr<port::WakeEvent>> events_;
  std::map<std::wstring, port::PhonebookEntry> entries_;
  std::vector<std::wstring> entryNamesWritten_;
  port::PhonebookEntry defaultEntry_;
  std::vector<Dial> dials_;
  std::vector<port::DialConnection> hangUps_;
  DWORD listModemsError_ = 0;
  DWORD listConnectionsError_ = 0;
  DWORD readEntryError_ = 0;
  DWORD writeEntryError_ = 0;
  DWORD dialError_ = 0;
  bool dialErrorWithConnection_ = false;
  DWORD statusError_ = 0;
  size_t keepAfterHangUp_ = 0;
  size_t statusReads_ = 0;
  DWORD lastPropertyUnits_ = 0;
  uintptr_t nextHandle_ = 0x100000;
  std::function<void()> statusHook_;
};

}  // namespace utils::sim
