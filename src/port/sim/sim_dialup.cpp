#include "port/sim/sim_dialup.h"

#include "port/sim/sim_notification.h"

namespace utils::sim {

namespace {
constexpr const char* kDialEventName = "RasDialEvent";
}  // namespace

void SimDialup::failListModems(DWORD error) {
  std::lock_guard lock(mutex_);
  listModemsError_ = error;
}
void SimDialup::failListConnections(DWORD error) {
  std::lock_guard lock(mutex_);
  listConnectionsError_ = error;
}
void SimDialup::failReadDefaultEntry(DWORD error) {
  std::lock_guard lock(mutex_);
  readEntryError_ = error;
}
void SimDialup::failWriteEntry(DWORD error) {
  std::lock_guard lock(mutex_);
  writeEntryError_ = error;
}
void SimDialup::keepAfterHangUp(size_t statusReads) {
  std::lock_guard lock(mutex_);
  keepAfterHangUp_ = statusReads;
}
void SimDialup::failStatus(DWORD error) {
  std::lock_guard lock(mutex_);
  statusError_ = error;
}

DWORD SimDialup::listModems(DWORD propertyUnits, std::vector<port::ModemDevice>* modems) {
  std::lock_guard lock(mutex_);
  modems->clear();
  lastPropertyUnits_ = propertyUnits;
  if (listModemsError_ != 0) return listModemsError_;
  for (port::ModemDevice modem : modems_) {
    // A property that does not fit with its terminator fails, as the device
    // property read does.
    if (modem.addressError == 0 && modem.address.size() + 1 > propertyUnits) {
      modem.addressError = ERROR_INSUFFICIENT_BUFFER;
      modem.address.clear();
    }
    if (modem.nameError == 0 && modem.friendlyName.size() + 1 > propertyUnits) {
      modem.nameError = ERROR_INSUFFICIENT_BUFFER;
      modem.friendlyName.clear();
    }
    modems->push_back(std::move(modem));
  }
  return 0;
}

DWORD SimDialup::listConnections(std::vector<port::ActiveConnection>* connections) {
  std::lock_guard lock(mutex_);
  connections->clear();
  if (listConnectionsError_ != 0) return listConnectionsError_;
  for (port::DialConnection handle : order_) {
    connections->push_back(port::ActiveConnection{handle, connections_.at(handle).deviceName});
  }
  return 0;
}

DWORD SimDialup::readDefaultEntry(port::PhonebookEntry* entry) {
  std::lock_guard lock(mutex_);
  if (readEntryError_ != 0) return readEntryError_;
  *entry = defaultEntry_;
  return 0;
}

DWORD SimDialup::writeEntry(const wchar_t* name, const port::PhonebookEntry& entry) {
  std::lock_guard lock(mutex_);
  entryNamesWritten_.push_back(name);
  if (writeEntryError_ != 0) return writeEntryError_;
  entries_[name] = entry;
  return 0;
}

DWORD SimDialup::dial(const wchar_t* entryName, const wchar_t* phoneNumber, HWND notifier,
                      port::DialConnection* connection) {
  std::lock_guard lock(mutex_);
  *connection = nullptr;
  auto entry = entries_.find(entryName);
  const std::wstring deviceName = entry == entries_.end() ? L"" : entry->second.deviceName;
  if (dialError_ != 0) {
    if (dialErrorWithConnection_) *connection = addConnectionLocked(deviceName, 0);
    dials_.push_back(Dial{entryName, phoneNumber, notifier, *connection});
    return dialError_;
  }
  *connection = addConnectionLocked(deviceName, 0);
  dials_.push_back(Dial{entryName, phoneNumber, notifier, *connection});
  return 0;
}

DWORD SimDialup::hangUp(port::DialConnection connection) {
  std::lock_guard lock(mutex_);
  hangUps_.push_back(connection);
  auto it = connections_.find(connection);
  if (it == connections_.end()) return ERROR_INVALID_HANDLE;
  if (keepAfterHangUp_ == 0) {
    removeLocked(connection);
  } else {
    it->second.hungUp = true;
    it->second.readsLeft = keepAfterHangUp_;
  }
  return 0;
}

void SimDialup::onStatusRead(std::function<void()> hook) {
  std::lock_guard lock(mutex_);
  statusHook_ = std::move(hook);
}

DWORD SimDialup::getStatus(port::DialConnection connection, port::ConnectionStatus* status) {
  std::function<void()> hook;
  {
    std::lock_guard lock(mutex_);
    hook = statusHook_;
  }
  if (hook) hook();
  std::lock_guard lock(mutex_);
  ++statusReads_;
  auto it = connections_.find(connection);
  if (it == connections_.end()) return ERROR_INVALID_HANDLE;
  if (it->second.hungUp && it->second.readsLeft != SIZE_MAX) {
    if (it->second.readsLeft == 0) {
      removeLocked(connection);
      return ERROR_INVALID_HANDLE;
    }
    --it->second.readsLeft;
  }
  if (statusError_ != 0) return statusError_;
  status->state = it->second.state;
  status->error = 0;
  return 0;
}

DWORD SimDialup::notifyOnChange(port::DialConnection connection, HANDLE event, DWORD flags) {
  std::lock_guard lock(mutex_);
  auto it = connections_.find(connection);
  if (it == connections_.end()) return ERROR_INVALID_HANDLE;
  it->second.notifications.emplace_back(event, flags);
  return 0;
}

DWORD SimDialup::createEvent(HANDLE* event) {
  std::unique_ptr<port::WakeEvent> created;
  *event = nullptr;
  if (const DWORD error = notification_.createWakeEvent(&created); error != 0) return error;
  std::lock_guard lock(mutex_);
  *event = reinterpret_cast<HANDLE>(nextHandle_++);
  events_[*event] = std::move(created);
  return 0;
}

DWORD SimDialup::setEvent(HANDLE event) {
  std::lock_guard lock(mutex_);
  auto it = events_.find(event);
  if (it == events_.end()) return ERROR_INVALID_HANDLE;
  it->second->signal();
  return 0;
}

DWORD SimDialup::resetEvent(HANDLE event) {
  std::shared_ptr<port::WakeEvent> found;
  {
    std::lock_guard lock(mutex_);
    auto it = events_.find(event);
    if (it == events_.end()) return ERROR_INVALID_HANDLE;
    found = it->second;
  }
  found->wait(0);  // takes a pending signal, if any
  return 0;
}

DWORD SimDialup::waitEvent(HANDLE event, DWORD ms) {
  std::shared_ptr<port::WakeEvent> found;
  {
    std::lock_guard lock(mutex_);
    auto it = events_.find(event);
    if (it == events_.end()) return WAIT_FAILED;
    found = it->second;
  }
  return found->wait(ms);
}

DWORD SimDialup::closeEvent(HANDLE event) {
  std::lock_guard lock(mutex_);
  return events_.erase(event) == 1 ? 0 : ERROR_INVALID_HANDLE;
}

void SimDialup::addModem(const std::wstring& address, const std::wstring& friendlyName, DWORD addressError,
                         DWORD nameError) {
  std::lock_guard lock(mutex_);
  modems_.push_back(port::ModemDevice{addressError, address, nameError, friendlyName});
}

void SimDialup::clearModems() {
  std::lock_guard lock(mutex_);
  modems_.clear();
}

void SimDialup::setDefaultEntry(const port::PhonebookEntry& entry) {
  std::lock_guard lock(mutex_);
  defaultEntry_ = entry;
}

std::optional<port::PhonebookEntry> SimDialup::entry(const std::wstring& name) const {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(name);
  if (it == entries_.end()) return std::nullopt;
  return it->second;
}

std::vector<std::wstring> SimDialup::entryNamesWritten() const {
  std::lock_guard lock(mutex_);
  return entryNamesWritten_;
}

DWORD SimDialup::lastPropertyUnits() const {
  std::lock_guard lock(mutex_);
  return lastPropertyUnits_;
}

port::DialConnection SimDialup::addConnectionLocked(const std::wstring& deviceName, DWORD state) {
  const auto handle = reinterpret_cast<port::DialConnection>(nextHandle_++);
  order_.push_back(handle);
  connections_[handle] = Connection{deviceName, state, false, 0, {}};
  return handle;
}

port::DialConnection SimDialup::addConnection(const std::wstring& deviceName, DWORD state) {
  std::lock_guard lock(mutex_);
  return addConnectionLocked(deviceName, state);
}

void SimDialup::signalLocked(const Connection& connection, DWORD flag) {
  for (const auto& [event, flags] : connection.notifications) {
    if ((flags & flag) == 0) continue;
    auto it = events_.find(event);
    if (it != events_.end()) it->second->signal();
  }
}

void SimDialup::removeLocked(port::DialConnection connection) {
  auto it = connections_.find(connection);
  if (it == connections_.end()) return;
  signalLocked(it->second, port::kRasNotifyDisconnection);
  connections_.erase(it);
  std::erase(order_, connection);
}

void SimDialup::setState(port::DialConnection connection, DWORD state) {
  std::lock_guard lock(mutex_);
  auto it = connections_.find(connection);
  if (it == connections_.end()) return;
  const DWORD before = it->second.state;
  it->second.state = state;
  if (state == port::kRasConnected && before != state) signalLocked(it->second, port::kRasNotifyConnection);
  if (before == port::kRasConnected && state != before) signalLocked(it->second, port::kRasNotifyDisconnection);
}

void SimDialup::removeConnection(port::DialConnection connection) {
  std::lock_guard lock(mutex_);
  removeLocked(connection);
}

bool SimDialup::knows(port::DialConnection connection) const {
  std::lock_guard lock(mutex_);
  return connections_.count(connection) == 1;
}

size_t SimDialup::notificationsAsked(port::DialConnection connection) const {
  std::lock_guard lock(mutex_);
  auto it = connections_.find(connection);
  return it == connections_.end() ? 0 : it->second.notifications.size();
}

std::vector<SimDialup::Dial> SimDialup::dials() const {
  std::lock_guard lock(mutex_);
  return dials_;
}

void SimDialup::failDial(DWORD error, bool withConnection) {
  std::lock_guard lock(mutex_);
  dialError_ = error;
  dialErrorWithConnection_ = withConnection;
}

void SimDialup::step(DWORD state, DWORD error) {
  HWND notifier = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (dials_.empty()) return;
    notifier = dials_.back().notifier;
    auto it = connections_.find(dials_.back().connection);
    if (error == 0 && it != connections_.end()) {
      const DWORD before = it->second.state;
      it->second.state = state;
      if (state == port::kRasConnected && before != state) signalLocked(it->second, port::kRasNotifyConnection);
    }
  }
  const UINT message = notification_.registerMessage(kDialEventName);
  notification_.postMessage(notifier, message, state, static_cast<LPARAM>(error));
}

std::vector<port::DialConnection> SimDialup::hangUps() const {
  std::lock_guard lock(mutex_);
  return hangUps_;
}

size_t SimDialup::statusReads() const {
  std::lock_guard lock(mutex_);
  return statusReads_;
}

size_t SimDialup::openEvents() const {
  std::lock_guard lock(mutex_);
  return events_.size();
}

}  // namespace utils::sim
