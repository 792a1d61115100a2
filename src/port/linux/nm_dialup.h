// The dial-up port on Linux: the phone's modem is a paired BlueZ device that
// offers dial-up networking, named by NetworkManager's Bluetooth device for its
// address (else by its BlueZ alias); the phonebook entry is a NetworkManager
// Bluetooth dial-up profile named after the phone; a dial activates it, and
// the activation's progress reaches the dial's window (the notification port's
// Linux window) as the registered message "RasDialEvent". Connections are
// NetworkManager's active connections, under handles of their own.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "port/dialup_port.h"
#include "port/linux/dun_watch.h"
#include "port/linux/nm_client.h"
#include "port/linux/radio_handles.h"
#include "port/notification_port.h"

namespace utils::linuxport {

class LinuxNotification;

class LinuxDialup : public port::DialupPort {
 public:
  explicit LinuxDialup(LinuxNotification& notification) : notification_(notification) {}
  ~LinuxDialup() override;
  LinuxDialup(const LinuxDialup&) = delete;
  LinuxDialup& operator=(const LinuxDialup&) = delete;

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

 private:
  struct Modem {
    std::string address;  // "00:11:22:33:44:55"
    std::wstring name;
  };
  // The paired phones that offer dial-up networking, with their modem names.
  DWORD phones(std::vector<Modem>* modems);
  DWORD startWatch();
  // The handle of the connection at path: the latest one given out, or a new one.
  HANDLE handleOf(const std::string& path);
  HANDLE newHandleOf(const std::string& path);
  std::string pathOf(HANDLE handle);

  LinuxNotification& notification_;
  NmClient client_;
  HandleTable<port::WakeEvent> events_;

  std::mutex mutex_;  // guards what follows
  std::map<std::string, HANDLE> handles_;
  std::map<HANDLE, std::string> paths_;
  std::shared_ptr<DunWatch> watch_;
  std::shared_ptr<EventThread> thread_;
};

}  // namespace utils::linuxport
