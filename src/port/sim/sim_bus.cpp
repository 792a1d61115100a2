#include "port/sim/sim_bus.h"

#include <algorithm>
#include <cstring>

namespace utils::sim {

void writeCommandComplete(BYTE* output, DWORD outputSize, WORD opcode, BYTE status) {
  const BYTE event[] = {0x0E, 4, 1, static_cast<BYTE>(opcode), static_cast<BYTE>(opcode >> 8), status};
  std::memcpy(output, event, std::min<size_t>(outputSize, sizeof event));
}

DWORD SimBus::findFirstInterface(port::BusInterface* found) {
  std::lock_guard lock(mutex_);
  if (failStep_) {
    found->failedStep = *failStep_;
    found->detailBytes = failDetailBytes_;
    return failError_;
  }
  if (interfaces_.empty()) {
    found->failedStep = port::BusLookupStep::kEnumerate;
    return ERROR_NO_MORE_ITEMS;
  }
  found->failedStep = port::BusLookupStep::kNone;
  found->path = interfaces_.front();
  return 0;
}

DWORD SimBus::open(const wchar_t* path, HANDLE* handle) {
  std::lock_guard lock(mutex_);
  openedPaths_.emplace_back(path);
  if (openError_ != 0) {
    *handle = INVALID_HANDLE_VALUE;
    return openError_;
  }
  *handle = reinterpret_cast<HANDLE>(nextHandle_);
  nextHandle_ += 4;
  open_.insert(*handle);
  return 0;
}

DWORD SimBus::ioControl(HANDLE bus, DWORD code, const void* input, DWORD inputSize, void* output, DWORD outputSize,
                        DWORD* returned) {
  Request request;
  Answer answer;
  {
    std::lock_guard lock(mutex_);
    if (open_.count(bus) == 0) return ERROR_INVALID_HANDLE;
    request.code = code;
    const auto* bytes = static_cast<const BYTE*>(input);
    request.input.assign(bytes, bytes + inputSize);
    request.outputSize = outputSize;
    requests_.push_back(request);
    answer = answer_;
  }
  auto* out = static_cast<BYTE*>(output);
  DWORD error = 0;
  if (answer) {
    error = answer(request, out);
  } else if (code == 0x9C4024C8 && inputSize >= 8) {
    writeCommandComplete(out, outputSize, static_cast<WORD>(request.input[6] | (request.input[7] << 8)), 0);
  }
  if (returned != nullptr) *returned = error == 0 ? outputSize : 0;
  return error;
}

DWORD SimBus::close(HANDLE bus) {
  std::lock_guard lock(mutex_);
  return open_.erase(bus) == 1 ? 0 : ERROR_INVALID_HANDLE;
}

void SimBus::setInterfaces(std::vector<std::wstring> paths) {
  std::lock_guard lock(mutex_);
  interfaces_ = std::move(paths);
}

void SimBus::failLookup(port::BusLookupStep step, DWORD error, DWORD detailBytes) {
  std::lock_guard lock(mutex_);
  failStep_ = step;
  failError_ = error;
  failDetailBytes_ = detailBytes;
}

void SimBus::failOpen(DWORD error) {
  std::lock_guard lock(mutex_);
  openError_ = error;
}

void SimBus::setAnswer(Answer answer) {
  std::lock_guard lock(mutex_);
  answer_ = std::move(answer);
}

std::vector<SimBus::Request> SimBus::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<std::wstring> SimBus::openedPaths() const {
  std::lock_guard lock(mutex_);
  return openedPaths_;
}

size_t SimBus::openHandleCount() const {
  std::lock_guard lock(mutex_);
  return open_.size();
}

}  // namespace utils::sim
