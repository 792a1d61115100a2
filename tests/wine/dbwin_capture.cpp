#include "dbwin_capture.h"

#include <chrono>
#include <cstring>

namespace utils::testing {
namespace {

// The shared buffer: the writer's process id, then a terminated narrow text.
constexpr DWORD kBufferSize = 4096;

}  // namespace

void DbwinCapture::HandleCloser::operator()(HANDLE handle) const {
  if (handle != nullptr) CloseHandle(handle);
}

void DbwinCapture::ViewUnmapper::operator()(void* view) const {
  if (view != nullptr) UnmapViewOfFile(view);
}

DbwinCapture::DbwinCapture() {
  bufferReady_.reset(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY"));
  if (!bufferReady_ || GetLastError() == ERROR_ALREADY_EXISTS) {
    error_ = "another debug monitor owns DBWIN_BUFFER_READY, or it cannot be created";
    return;
  }
  dataReady_.reset(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY"));
  if (!dataReady_ || GetLastError() == ERROR_ALREADY_EXISTS) {
    error_ = "DBWIN_DATA_READY cannot be created";
    return;
  }
  mapping_.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBufferSize, L"DBWIN_BUFFER"));
  if (!mapping_) {
    error_ = "DBWIN_BUFFER cannot be created";
    return;
  }
  view_.reset(MapViewOfFile(mapping_.get(), FILE_MAP_READ, 0, 0, kBufferSize));
  stop_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!view_ || !stop_) {
    error_ = "DBWIN_BUFFER cannot be mapped";
    return;
  }
  reader_ = std::thread([this] { readLoop(); });
  ready_ = true;
}

DbwinCapture::~DbwinCapture() {
  if (reader_.joinable()) {
    SetEvent(stop_.get());
    reader_.join();
  }
}

void DbwinCapture::readLoop() {
  const DWORD self = GetCurrentProcessId();
  HANDLE waits[] = {dataReady_.get(), stop_.get()};
  SetEvent(bufferReady_.get());
  for (;;) {
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) return;
    const auto* bytes = static_cast<const char*>(view_.get());
    DWORD pid = 0;
    std::memcpy(&pid, bytes, sizeof pid);
    const char* text = bytes + sizeof pid;
    const std::string copy(text, strnlen(text, kBufferSize - sizeof pid));
    SetEvent(bufferReady_.get());
    if (pid != self) continue;
    {
      std::lock_guard lock(mutex_);
      texts_.push_back(copy);
    }
    arrived_.notify_all();
  }
}

std::vector<std::string> DbwinCapture::flush() {
  const std::string marker = "dbwin-capture-marker";
  OutputDebugStringA(marker.c_str());
  std::unique_lock lock(mutex_);
  arrived_.wait_for(lock, std::chrono::seconds(5), [&] { return !texts_.empty() && texts_.back() == marker; });
  if (!texts_.empty() && texts_.back() == marker) texts_.pop_back();
  return texts_;
}

void DbwinCapture::clear() {
  std::lock_guard lock(mutex_);
  texts_.clear();
}

}  // namespace utils::testing
