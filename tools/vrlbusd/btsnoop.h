// Records the HCI traffic between the daemon and its controller in the btsnoop
// format (version 1, datalink 1002: H4 packets) that packet analysers read:
// every command sent and every event received, with its time.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace vrlbusd {

class HciRecorder {
 public:
  virtual ~HciRecorder() = default;
  virtual void command(uint16_t opcode, std::span<const uint8_t> parameters) = 0;
  virtual void event(std::span<const uint8_t> packet) = 0;
};

class BtsnoopFile : public HciRecorder {
 public:
  // Creates (or truncates) a regular file at path and writes the header.
  // Refuses a symbolic link or anything that is not a regular file. Nothing
  // and *error set on failure.
  static std::unique_ptr<BtsnoopFile> create(const std::string& path, std::string* error);
  ~BtsnoopFile() override;
  BtsnoopFile(const BtsnoopFile&) = delete;
  BtsnoopFile& operator=(const BtsnoopFile&) = delete;

  void command(uint16_t opcode, std::span<const uint8_t> parameters) override;
  void event(std::span<const uint8_t> packet) override;

  const std::string& path() const { return path_; }
  // False once a write failed (disk full, ...): the recording has ended.
  bool healthy() const { return fd_ >= 0; }

 private:
  BtsnoopFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  void record(uint32_t flags, uint8_t packetType, std::span<const uint8_t> head, std::span<const uint8_t> body);

  int fd_ = -1;
  std::string path_;
};

}  // namespace vrlbusd
