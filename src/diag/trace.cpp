// The trace and log family: prefixed lines "[time][level][module]message\n"
// filtered by the log level mask, and plain trace text filtered by the
// application trace mask. Every buffer is a fixed one on the caller's stack;
// texts that would not fit are cut, never overrun.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/utf16.h"
#include "diag/debug_settings.h"
#include "diag/trace_format.h"
#include "port/platform.h"
#include "utils/trace.h"

namespace utils::diag {
namespace {

constexpr size_t kMessageSize = 2048;
constexpr size_t kLineSize = 2048;
constexpr size_t kTimeSize = 20;
constexpr size_t kModuleSize = 100;

// Bits of the application trace mask.
constexpr DWORD kBitTraceBme = 0x1;
constexpr DWORD kBitAtlTraceWide = 0x2;
constexpr DWORD kBitAtlTraceNarrow = 0x4;
constexpr DWORD kBitTrace = 0x8;

constexpr int kAtlTraceLevel = 4;

bool levelEnabled(int level) { return (logLevelMask() & static_cast<DWORD>(level)) != 0; }

// Converts a wide text to the narrow encoding of prefixed lines into a fixed
// buffer, cut to fit. False when the platform cannot convert it.
bool WideToOem(const wchar_t* text, char* destination, size_t capacity) {
  return port::platform().debugOutput->wideToOem(text, destination, capacity);
}

void WriteLogLine(int level, const char* module, const char* message) {
  if (module == nullptr) module = "";
  if (!levelEnabled(level)) return;

  const port::LocalTime now = port::platform().clock->localTime();
  char timeText[kTimeSize];
  std::snprintf(timeText, sizeof timeText, "%2d:%02d:%02d", now.hour, now.minute, now.second);

  // A composed line longer than 2,047 characters is cut there.
  char line[kLineSize];
  const int composed = std::snprintf(line, sizeof line, "[%s][%d][%s]%s\n", timeText, level, module, message);
  if (composed >= static_cast<int>(sizeof line)) line[withoutPartialUtf8(line, sizeof line - 1)] = '\0';
  port::platform().debugOutput->writeLogLine(level, module, line);
}

void WriteLogLine(int level, const wchar_t* module, const wchar_t* message) {
  if (module == nullptr) module = L"";
  char narrowModule[kModuleSize];
  char narrowMessage[kMessageSize];
  // A text that cannot be converted drops the line, as a failed conversion would.
  if (!WideToOem(module, narrowModule, sizeof narrowModule)) return;
  if (!WideToOem(message, narrowMessage, sizeof narrowMessage)) return;
  WriteLogLine(level, narrowModule, narrowMessage);
}

void writePlain(const char* message) { port::platform().debugOutput->writeNarrow(message); }
void writePlain(const wchar_t* message) { port::platform().debugOutput->writeWide(message); }

// Runs the whole of a trace call, from reading the masks to the output, and
// drops the text on any exception (a failed allocation in a platform's output
// or settings read): tracing never fails its caller.
template <typename Body>
void guarded(Body body) noexcept {
  try {
    body();
  } catch (...) {
  }
}

// The formatting halves of the trace members live apart from the filter tests,
// kept out of line so that a filtered-out call sets up no message buffer.

// Plain trace text: the formatted message as it is, no prefix, no newline.
template <typename Char>
[[gnu::noinline]] void tracePlain(const Char* format, va_list args) {
  Char message[kMessageSize];
  formatBounded(message, kMessageSize, format, args);
  writePlain(message);
}

// A prefixed line from a narrow or a wide format.
template <typename Char>
[[gnu::noinline]] void writeLogFormatted(int level, const Char* module, const Char* format, va_list args) {
  Char message[kMessageSize];
  formatBounded(message, kMessageSize, format, args);
  WriteLogLine(level, module, message);
}

bool appBitSet(DWORD bit) { return (GetAppDebugMask() & bit) != 0; }

}  // namespace
}  // namespace utils::diag

using namespace utils::diag;

// Each member: a null format returns before any mask is read; the masks are
// tested inside the guard.
#define UTILS_TRACE_PLAIN(bit, format)              \
  do {                                              \
    if ((format) == nullptr) return;                \
    va_list args;                                   \
    va_start(args, format);                         \
    guarded([&] {                                   \
      if (appBitSet(bit)) tracePlain(format, args); \
    });                                             \
    va_end(args);                                   \
  } while (0)

#define UTILS_TRACE_LINE(enabled, level, module, format)           \
  do {                                                             \
    if ((format) == nullptr) return;                               \
    va_list args;                                                  \
    va_start(args, format);                                        \
    guarded([&] {                                                  \
      if (enabled) writeLogFormatted(level, module, format, args); \
    });                                                            \
    va_end(args);                                                  \
  } while (0)

extern "C" {

UTILS_API void WRITELOG_A(int level, const char* module, const char* format, ...) {
  UTILS_TRACE_LINE(levelEnabled(level), level, module, format);
}

UTILS_API void WRITELOG_W(int level, const wchar_t* module, const wchar_t* format, ...) {
  UTILS_TRACE_LINE(levelEnabled(level), level, module, format);
}

UTILS_API void VRLN_BT_TRACE(const char* format, ...) { UTILS_TRACE_PLAIN(kBitTrace, format); }
UTILS_API void VRLN_BT_TRACE_BME_A(const char* format, ...) { UTILS_TRACE_PLAIN(kBitTraceBme, format); }
UTILS_API void VRLN_BT_TRACE_BME_W(const wchar_t* format, ...) { UTILS_TRACE_PLAIN(kBitTraceBme, format); }
UTILS_API void VRLN_BT_TRACE_BME_U(const wchar_t* format, ...) { UTILS_TRACE_PLAIN(kBitTraceBme, format); }
UTILS_API void VRLN_BT_ATLTRACE_U(const wchar_t* format, ...) { UTILS_TRACE_PLAIN(kBitAtlTraceWide, format); }

// The prefixed ATL members write at level 4 with an empty module tag, so they
// also need bit 0x4 of the log level mask.
UTILS_API void VRLN_BT_ATLTRACE_A(const char* format, ...) {
  UTILS_TRACE_LINE(appBitSet(kBitAtlTraceNarrow) && levelEnabled(kAtlTraceLevel), kAtlTraceLevel, "", format);
}

UTILS_API void VRLN_BT_ATLTRACE_W(const wchar_t* format, ...) {
  UTILS_TRACE_LINE(appBitSet(kBitAtlTraceWide) && levelEnabled(kAtlTraceLevel), kAtlTraceLevel, L"", format);
}

}  // extern "C"
