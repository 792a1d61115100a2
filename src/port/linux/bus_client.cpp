#include "port/linux/bus_client.h"

#include <algorithm>
#include <cstring>

#include "common/utf16.h"

namespace utils::linuxport {

DWORD LinuxBus::findFirstInterface(port::BusInterface* found) {
  const std::string path = busSocketPath();
  std::unique_ptr<BusSocket> probe;
  const DWORD error = BusSocket::connect(path, &probe);
  if (error == ERROR_FILE_NOT_FOUND) {
    found->failedStep = port::BusLookupStep::kEnumerate;
    return ERROR_NO_MORE_ITEMS;  // no daemon: the driver is not installed
  }
  if (error != 0) {
    found->failedStep = port::BusLookupStep::kDeviceList;
    return error;
  }
  found->failedStep = port::BusLookupStep::kNone;
  found->path = utf8ToWide(path);
  std::lock_guard lock(foundMutex_);
  found_ = std::move(probe);
  foundPath_ = path;
  return 0;
}

DWORD LinuxBus::open(const wchar_t* path, HANDLE* handle) {
  *handle = INVALID_HANDLE_VALUE;
  if (path == nullptr) return ERROR_INVALID_PARAMETER;
  auto connection = std::make_shared<Connection>();
  connection->path = wideToUtf8(path);
  {
    std::lock_guard lock(foundMutex_);
    if (found_ != nullptr && foundPath_ == connection->path) connection->socket = std::move(found_);
    found_.reset();  // a lookup's connection is taken by the next open or not at all
  }
  if (connection->socket == nullptr) {
    if (const DWORD error = BusSocket::connect(connection->path, &connection->socket); error != 0) return error;
  }
  *handle = handles_.add(std::move(connection));
  return 0;
}

DWORD LinuxBus::ioControl(HANDLE bus, DWORD code, const void* input, DWORD inputSize, void* output, DWORD outputSize,
                          DWORD* returned) {
  if (returned != nullptr) *returned = 0;
  auto connection = handles_.find(bus);
  if (connection == nullptr) return ERROR_INVALID_HANDLE;
  if ((inputSize != 0 && input == nullptr) || (outputSize != 0 && output == nullptr)) return ERROR_INVALID_PARAMETER;
  if (inputSize > busproto::kMaxInput || outputSize > busproto::kMaxOutput) return ERROR_INVALID_PARAMETER;

  busproto::IoControlRequest request;
  request.code = code;
  request.outputSize = outputSize;
  const auto* bytes = static_cast<const uint8_t*>(input);
  request.input.assign(bytes, bytes + inputSize);

  std::lock_guard lock(connection->mutex);
  busproto::Frame reply;
  const auto body = busproto::encodeIoControl(request);
  DWORD error = connection->socket->exchange(busproto::Type::kIoControl, body, busproto::Type::kIoControlReply, &reply,
                                             kBusRequestTimeoutMs);
  if (error == ERROR_DEVICE_NOT_CONNECTED && !connection->used) {
    // The daemon closes a connection that carries no request for a while (so
    // that idle connections cannot take every place): a handle opened long
    // before its first request connects again, once (a daemon that drops an
    // idle connection has read nothing from it).
    std::unique_ptr<BusSocket> fresh;
    if (BusSocket::connect(connection->path, &fresh) == 0) {
      connection->socket = std::move(fresh);
      error = connection->socket->exchange(busproto::Type::kIoControl, body, busproto::Type::kIoControlReply, &reply,
                                           kBusRequestTimeoutMs);
    }
  }
  connection->used = true;
  if (error != 0) return error;
  const auto answer = busproto::decodeIoControlReply(reply.body, outputSize);
  if (!answer) return ERROR_INVALID_DATA;  // more output than asked for, or a short reply
  if (answer->error != 0) return answer->error;
  if (!answer->output.empty()) std::memcpy(output, answer->output.data(), answer->output.size());
  if (returned != nullptr) *returned = static_cast<DWORD>(answer->output.size());
  return 0;
}

DWORD LinuxBus::close(HANDLE bus) { return handles_.remove(bus) ? 0 : ERROR_INVALID_HANDLE; }

bool readControllerVersion(WORD* manufacturer, WORD* lmpSubversion) {
  std::unique_ptr<BusSocket> socket;
  if (BusSocket::connect(busSocketPath(), &socket) != 0) return false;
  busproto::Frame reply;
  if (socket->exchange(busproto::Type::kControllerVersion, {}, busproto::Type::kVersionReply, &reply,
                       kBusRequestTimeoutMs) != 0) {
    return false;
  }
  // u32 error, then HCI version, HCI revision (2), LMP version, manufacturer (2),
  // LMP subversion (2).
  if (reply.body.size() != 12 || busproto::getU32(reply.body.data()) != 0) return false;
  const uint8_t* version = reply.body.data() + 4;
  *manufacturer = static_cast<WORD>(version[4] | version[5] << 8);
  *lmpSubversion = static_cast<WORD>(version[6] | version[7] << 8);
  return true;
}

}  // namespace utils::linuxport
