#include "port/sim/sim_platform.h"

#include <new>
#include <utility>

#include "common/utf16.h"

namespace utils::sim {

void SimDebugOutput::record(Entry entry) {
  if (throwing_) throw std::bad_alloc();
  std::lock_guard lock(mutex_);
  entries_.push_back(std::move(entry));
}

void SimDebugOutput::writeLogLine(int level, const char* module, const char* line) {
  record(Entry{false, line, {}, true, level, module});
}

void SimDebugOutput::writeNarrow(const char* text) { record(Entry{false, text, {}, false, 0, {}}); }

void SimDebugOutput::writeWide(const wchar_t* text) { record(Entry{true, {}, text, false, 0, {}}); }

bool SimDebugOutput::wideToOem(const wchar_t* text, char* destination, size_t capacity) {
  if (throwing_) throw std::bad_alloc();
  const std::wstring_view view(text);
  if (failOn_ != 0 && view.find(failOn_) != std::wstring_view::npos) return false;
  utils::wideToUtf8Bounded(view.data(), view.size(), destination, capacity);
  return true;
}

std::vector<SimDebugOutput::Entry> SimDebugOutput::entries() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

std::vector<std::string> SimDebugOutput::narrowLines() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> lines;
  for (const auto& e : entries_) {
    if (!e.wide) lines.push_back(e.narrow);
  }
  return lines;
}

void SimDebugOutput::clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
}

port::LocalTime SimClock::localTime() {
  std::lock_guard lock(mutex_);
  return local_;
}

uint64_t SimClock::systemTimeAsFileTime() {
  std::lock_guard lock(mutex_);
  // 2026-01-01 00:00:00 UTC plus the simulated running time.
  constexpr uint64_t kStart = 134116992000000000ULL;
  return kStart + monotonic_ * 10000;
}

uint64_t SimClock::monotonicMs() {
  std::lock_guard lock(mutex_);
  return monotonic_;
}

void SimClock::sleepMs(DWORD ms) { advanceMs(ms); }

void SimClock::setLocalTime(int hour, int minute, int second) {
  std::lock_guard lock(mutex_);
  local_.hour = hour;
  local_.minute = minute;
  local_.second = second;
}

void SimClock::advanceMs(uint64_t ms) {
  std::lock_guard lock(mutex_);
  monotonic_ += ms;
}

void SimPlatform::install() {
  port::Platform record{&registry, &debugOutput, &clock};
  record.radio = &radio;
  record.bus = &bus;
  record.rfcomm = &rfcomm;
  record.xmlDom = &xmlDom;
  record.notification = &notification;
  record.shell = &shell;
  record.module = &modules;
  record.dialup = &dialup;
  record.credentials = &credentials;
  port::installPlatform(record);
}

}  // namespace utils::sim
