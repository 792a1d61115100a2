// A simulated bus driver: a list of present interfaces, scripted failures, and a
// record of every I/O control request with a programmable answer.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "port/bus_port.h"

namespace utils::sim {

class SimBus : public port::BusPort {
 public:
  struct Request {
    DWORD code = 0;
    std::vector<BYTE> input;
    DWORD outputSize = 0;
  };
  // Answers one request: fills output (outputSize bytes, cleared by the caller)
  // and returns the error code of the request.
  using Answer = std::function<DWORD(const Request& request, BYTE* output)>;

  DWORD findFirstInterface(port::BusInterface* found) override;
  DWORD open(const wchar_t* path, HANDLE* handle) override;
  DWORD ioControl(HANDLE bus, DWORD code, const void* input, DWORD inputSize, void* output, DWORD outputSize,
                  DWORD* returned) override;
  DWORD close(HANDLE bus) override;

  // Present interfaces, first one first. None: the driver is not installed.
  void setInterfaces(std::vector<std::wstring> paths);
  // Makes the lookup stop at step with error (detailBytes for kDetailAlloc).
  void failLookup(port::BusLookupStep step, DWORD error, DWORD detailBytes = 0);
  // Makes open fail with error (0 restores success).
  void failOpen(DWORD error);
  // Replaces the answer; the default answers every request with success and,
  // for a vendor command, a Command Complete event with status 0.
  void setAnswer(Answer answer);

  std::vector<Request> requests() const;
  std::vector<std::wstring> openedPaths() const;
  size_t openHandleCount() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::wstring> interfaces_;
  std::optional<port::BusLookupStep> failStep_;
  DWORD failError_ = 0;
  DWORD failDetailBytes_ = 0;
  DWORD openError_ = 0;
  Answer answer_;
  std::vector<Request> requests_;
  std::vector<std::wstring> openedPaths_;
  std::set<HANDLE> open_;
  uintptr_t nextHandle_ = 0x1000;
};

// A Command Complete event for opcode with status, as a bus driver answers.
void writeCommandComplete(BYTE* output, DWORD outputSize, WORD opcode, BYTE status);

}  // namespace utils::sim
