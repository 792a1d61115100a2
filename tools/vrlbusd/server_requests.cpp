// The server's requests: each frame type's payload checked and answered, or
// handed to the controller's command queue.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "log.h"
#include "server.h"

namespace vrlbusd {

namespace busproto = utils::busproto;

// Who sent what: one line per I/O control request, with the HCI opcode of a
// vendor command, and its bytes when verbose.
void Server::logRequest(const Client& client, const busproto::IoControlRequest& request) {
  char text[48];
  std::snprintf(text, sizeof text, ": ioctl 0x%08X", request.code);
  std::string line = client.peer.describe() + text;
  if (request.code == kIoctlVendorHciCommand && request.input.size() >= 9) {
    line += " HCI " + opcodeText(static_cast<uint16_t>(request.input[6] | request.input[7] << 8));
  }
  if (settings_.verbose) line += " in " + hex(request.input);
  log(line);
}

bool Server::handleFrame(Client& client, const busproto::Frame& frame, Clock::time_point now) {
  const auto who = [&client] { return client.peer.describe(); };  // for the log, made only when needed
  if (client.subscriber) {
    log(who() + ": a subscriber sent a request");
    return false;
  }
  // Every request's payload has the size of its type; anything else ends the
  // connection, since the stream can no longer be trusted.
  const auto malformed = [&](const char* what) {
    log(who() + ": malformed " + what + " (" + std::to_string(frame.body.size()) + " bytes)");
    return false;
  };
  switch (frame.type) {
    case busproto::Type::kHello: {
      if (frame.body.size() != 4) return malformed("hello");
      std::vector<uint8_t> body;
      busproto::putU32(body, busproto::kVersion);
      queue(client, busproto::Type::kHelloReply, body);
      return true;
    }
    case busproto::Type::kIoControl: {
      const auto request = busproto::decodeIoControl(frame.body);
      if (!request) return malformed("I/O control request");
      logRequest(client, *request);
      Outcome outcome = requests_.handle(client.peer, *request);
      if (outcome.reply) {
        queue(client, busproto::Type::kIoControlReply, busproto::encodeIoControlReply(*outcome.reply));
      } else {
        channel_.submit(std::move(*outcome.command), now);
        client.awaiting = true;
      }
      return true;
    }
    case busproto::Type::kSubscribe:
      if (!frame.body.empty()) return malformed("subscribe request");
      client.subscriber = true;
      queue(client, busproto::Type::kSubscribed, {});
      if (settings_.verbose) log(who() + ": subscribed to vendor events");
      return true;
    case busproto::Type::kControllerVersion:
      if (!frame.body.empty()) return malformed("controller version request");
      channel_.submit(BusRequests::versionCommand(client.peer), now);
      client.awaiting = true;
      return true;
    case busproto::Type::kRecentRequests:
      if (!frame.body.empty()) return malformed("recent requests request");
      queue(client, busproto::Type::kRecentReply, requests_.encodeRecent(client.peer));
      return true;
    case busproto::Type::kCapture:
      if (frame.body.empty() || frame.body[0] > 1 || (frame.body[0] == 0 && frame.body.size() != 1)) {
        return malformed("capture request");
      }
      handleCapture(client, frame);
      return true;
    default: break;
  }
  log(who() + ": unknown request type " + std::to_string(static_cast<int>(frame.type)));
  return false;
}

// Starting and stopping the btsnoop recording. The traffic holds every
// client's device addresses: only root and the daemon's own user may.
void Server::handleCapture(Client& client, const busproto::Frame& frame) {
  const std::string who = client.peer.describe();
  uint32_t error = 0;
  if (client.peer.uid != 0 && client.peer.uid != ::geteuid()) {
    log(who + ": capture refused: only root may record the HCI traffic");
    error = kErrorAccessDenied;
  } else if (frame.body[0] == 0) {
    if (capture_) log(who + ": recording to " + capture_->path() + " stopped");
    channel_.setRecorder(nullptr);
    capture_.reset();
  } else {
    std::string path(frame.body.begin() + 1, frame.body.end());
    if (path.empty()) path = settings_.capturePath;
    std::string why;
    if (path.empty() || path.find('\0') != std::string::npos) {
      log(who + ": capture needs a file (the request names none, nor does --btsnoop)");
      error = kErrorInvalidParameter;
    } else {
      channel_.setRecorder(nullptr);
      capture_.reset();
      if (!startCapture(path, &why)) {
        log(who + ": capture refused: " + why);
        error = kErrorInvalidParameter;
      }
    }
  }
  std::vector<uint8_t> body;
  busproto::putU32(body, error);
  queue(client, busproto::Type::kCaptureReply, body);
}

void Server::deliver(const CommandResult& result) {
  const auto fd = clientFds_.find(result.request.client);
  if (fd == clientFds_.end()) return;  // the client went away meanwhile
  Client& client = clients_.at(fd->second);
  client.awaiting = false;
  if (result.request.purpose == kPurposeVersion) {
    queue(client, busproto::Type::kVersionReply, BusRequests::encodeVersion(result));
  } else {
    queue(client, busproto::Type::kIoControlReply, busproto::encodeIoControlReply(BusRequests::answer(result)));
  }
}

}  // namespace vrlbusd
