// The server's set-up: the socket's folder and file, the stop signals, and the
// recording asked for on the command line.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "log.h"
#include "server.h"

namespace vrlbusd {
namespace {

// Creates the missing folders above path (mode 0755: clients must reach the
// socket; the socket's own mode decides who may connect).
bool createParentFolders(const std::string& path, std::string* error) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    const std::string folder = path.substr(0, slash);
    if (::mkdir(folder.c_str(), 0755) == 0) {
      ::chmod(folder.c_str(), 0755);  // whatever the umask took away
    } else if (errno != EEXIST) {
      *error = "cannot create " + folder + ": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

}  // namespace

bool Server::listen(std::string* error) {
  // The stop signals are taken before the socket exists: one that arrives while
  // it is being set up then waits in the signal descriptor instead of ending the
  // daemon between bind and the signal set-up, which left a stale socket behind.
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  sigprocmask(SIG_BLOCK, &stops, nullptr);
  signalFd_ = ::signalfd(-1, &stops, SFD_CLOEXEC | SFD_NONBLOCK);

  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string& path = settings_.socketPath;
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    *error = "socket path too long: " + path;
    return false;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  if (!createParentFolders(path, error)) return false;

  struct stat existing {};
  if (::lstat(path.c_str(), &existing) == 0) {
    if (!S_ISSOCK(existing.st_mode)) {
      *error = path + " exists and is not a socket";
      return false;
    }
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool answered = ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(probe);
    if (answered) {
      *error = "another daemon listens on " + path;
      return false;
    }
    ::unlink(path.c_str());  // stale: left by a daemon that did not end cleanly
  }

  listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  const mode_t before = ::umask(0177);
  const bool bound = ::bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::umask(before);
  if (!bound || ::listen(listenFd_, 64) != 0) {
    *error = path + ": " + std::strerror(errno);
    ::close(listenFd_);
    listenFd_ = -1;
    return false;
  }
  if (!settings_.group.empty()) {
    const group* found = ::getgrnam(settings_.group.c_str());
    if (found == nullptr || ::chown(path.c_str(), static_cast<uid_t>(-1), found->gr_gid) != 0) {
      *error = "cannot give " + path + " to group " + settings_.group;
      return false;
    }
  }
  if (::chmod(path.c_str(), settings_.socketMode) != 0) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  if (!settings_.capturePath.empty() && !startCapture(settings_.capturePath, error)) return false;

  ::signal(SIGPIPE, SIG_IGN);
  log("listening on " + path + " for controller " + controller_.name());
  return true;
}

bool Server::startCapture(const std::string& path, std::string* error) {
  auto file = BtsnoopFile::create(path, error);
  if (!file) return false;
  capture_ = std::move(file);
  channel_.setRecorder(capture_.get());
  log("recording HCI traffic to " + path);
  return true;
}

}  // namespace vrlbusd
