// Narrow trace formatting allocates nothing: the C library's allocator is
// wrapped for this program and counts the calls made while a format runs.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <string>

#include "diag/trace_format.h"

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
}

namespace {
std::atomic<bool> gCounting{false};
std::atomic<int> gAllocations{0};

void note() {
  if (gCounting.load(std::memory_order_relaxed)) gAllocations.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

extern "C" void* malloc(size_t size) {
  note();
  return __libc_malloc(size);
}
extern "C" void* calloc(size_t count, size_t size) {
  note();
  return __libc_calloc(count, size);
}
extern "C" void* realloc(void* pointer, size_t size) {
  note();
  return __libc_realloc(pointer, size);
}

namespace {

int allocationsFor(const char* format, ...) {
  char buffer[2048];
  va_list args;
  va_start(args, format);
  gAllocations = 0;
  gCounting = true;
  utils::diag::formatBounded(buffer, sizeof buffer, format, args);
  gCounting = false;
  va_end(args);
  return gAllocations;
}

TEST(TraceHeapTest, NarrowFormattingAllocatesNothing) {
  // The wrapper does see the C library's own allocations.
  gCounting = true;
  std::string seen(100, 'x');
  gCounting = false;
  ASSERT_GT(gAllocations.load(), 0);

  const std::wstring wideText(3000, L'\u20ac');
  EXPECT_EQ(0, allocationsFor("%s %d %S %ls %C %I64x %p", "text", 42, L"\u00e9\u20ac", wideText.c_str(), L'\u00e9',
                              uint64_t{1} << 40, static_cast<void*>(&seen)));
  EXPECT_EQ(0, allocationsFor("%*.*f|%e|%Lg|%a|%.2000f|%5000.1500Lf", 10, 3, 3.5, 1e300, 1e4000L, 0.1, 1e300, 1.0L));
  EXPECT_EQ(0, allocationsFor("%999999999d|%-999999s|%.999999999d", 1, "x", 2));
}

}  // namespace
