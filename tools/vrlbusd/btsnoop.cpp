#include "btsnoop.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "log.h"

namespace vrlbusd {
namespace {

// Microseconds from year 0 to 1970-01-01, the btsnoop time origin.
constexpr int64_t kEpochOffsetUs = 0x00E03AB44A676000LL;
constexpr uint32_t kDatalinkH4 = 1002;
constexpr uint32_t kFlagSentCommand = 2;    // command, host to controller
constexpr uint32_t kFlagReceivedEvent = 3;  // command/event, controller to host
constexpr uint8_t kH4Command = 0x01;
constexpr uint8_t kH4Event = 0x04;

void putBe32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

bool writeAll(int fd, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::unique_ptr<BtsnoopFile> BtsnoopFile::create(const std::string& path, std::string* error) {
  if (path.empty() || path[0] != '/') {
    *error = "a capture file needs an absolute path";
    return nullptr;
  }
  // No following a link, no blocking on a FIFO, and nothing but a regular file.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0640);
  if (fd < 0) {
    *error = path + ": " + std::strerror(errno);
    return nullptr;
  }
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    *error = path + ": not a regular file";
    return nullptr;
  }
  std::vector<uint8_t> header{'b', 't', 's', 'n', 'o', 'o', 'p', 0};
  putBe32(header, 1);
  putBe32(header, kDatalinkH4);
  if (::ftruncate(fd, 0) != 0 || !writeAll(fd, header)) {
    *error = path + ": " + std::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<BtsnoopFile>(new BtsnoopFile(fd, path));
}

BtsnoopFile::~BtsnoopFile() {
  if (fd_ >= 0) ::close(fd_);
}

void BtsnoopFile::command(uint16_t opcode, std::span<const uint8_t> parameters) {
  const uint8_t head[] = {static_cast<uint8_t>(opcode), static_cast<uint8_t>(opcode >> 8),
                          static_cast<uint8_t>(parameters.size())};
  record(kFlagSentCommand, kH4Command, head, parameters);
}

void BtsnoopFile::event(std::span<const uint8_t> packet) { record(kFlagReceivedEvent, kH4Event, {}, packet); }

// One record: original and included length, flags, cumulative drops, time in
// microseconds (all big-endian), then the H4 packet.
void BtsnoopFile::record(uint32_t flags, uint8_t packetType, std::span<const uint8_t> head,
                         std::span<const uint8_t> body) {
  if (fd_ < 0) return;
  const auto length = static_cast<uint32_t>(1 + head.size() + body.size());
  const int64_t now =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
          .count() +
      kEpochOffsetUs;
  std::vector<uint8_t> bytes;
  bytes.reserve(24 + length);
  putBe32(bytes, length);
  putBe32(bytes, length);
  putBe32(bytes, flags);
  putBe32(bytes, 0);
  putBe32(bytes, static_cast<uint32_t>(static_cast<uint64_t>(now) >> 32));
  putBe32(bytes, static_cast<uint32_t>(now));
  bytes.push_back(packetType);
  bytes.insert(bytes.end(), head.begin(), head.end());
  bytes.insert(bytes.end(), body.begin(), body.end());
  if (!writeAll(fd_, bytes)) {
    log("capture " + path_ + ": " + std::strerror(errno) + ", recording stopped");
    ::close(fd_);
    fd_ = -1;
  }
}

}  // namespace vrlbusd
