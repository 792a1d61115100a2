#include "diag/trace_format.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>

#if !defined(_WIN32)
#include "diag/format_engine.h"
#endif

namespace utils::diag {
namespace {

#if !defined(_WIN32)
// Arguments from a va_list, each read as the C type of its kind.
class VaArguments {
 public:
  explicit VaArguments(va_list args) { va_copy(args_, args); }
  ~VaArguments() { va_end(args_); }
  VaArguments(const VaArguments&) = delete;
  VaArguments& operator=(const VaArguments&) = delete;

  ArgumentValue take(ArgumentKind kind) {
    ArgumentValue value;
    switch (kind) {
      case ArgumentKind::None: break;
      case ArgumentKind::Int: value.bits = signExtended(va_arg(args_, int)); break;
      case ArgumentKind::Long: value.bits = signExtended(va_arg(args_, long)); break;
      case ArgumentKind::LongLong: value.bits = signExtended(va_arg(args_, long long)); break;
      case ArgumentKind::Int64: value.bits = signExtended(va_arg(args_, int64_t)); break;
      case ArgumentKind::IntMax: value.bits = signExtended(va_arg(args_, intmax_t)); break;
      case ArgumentKind::Size: value.bits = va_arg(args_, size_t); break;
      case ArgumentKind::Ptrdiff: value.bits = signExtended(va_arg(args_, ptrdiff_t)); break;
      case ArgumentKind::Double: value.floating = va_arg(args_, double); break;
      case ArgumentKind::LongDouble: value.floating = va_arg(args_, long double); break;
      case ArgumentKind::WideChar: value.bits = va_arg(args_, wint_t); break;
      case ArgumentKind::NarrowString: value.pointer = va_arg(args_, const char*); break;
      case ArgumentKind::WideString: value.pointer = va_arg(args_, const wchar_t*); break;
      case ArgumentKind::Pointer: value.pointer = va_arg(args_, const void*); break;
    }
    return value;
  }

 private:
  template <typename Integer>
  static uint64_t signExtended(Integer value) {
    return static_cast<uint64_t>(static_cast<int64_t>(value));
  }
  va_list args_;
};
#endif

}  // namespace

void formatBounded(char* buffer, size_t capacity, const char* format, va_list args) {
#if defined(_WIN32)
  std::memset(buffer, 0, capacity);
  _vsnprintf(buffer, capacity - 1, format, args);
  buffer[capacity - 1] = '\0';
#else
  VaArguments arguments(args);
  formatDirectives(buffer, capacity, format, arguments);
#endif
}

void formatBounded(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args) {
#if defined(_WIN32)
  // The buffer is cleared first: on overflow the C runtime leaves the output
  // unterminated.
  std::wmemset(buffer, 0, capacity);
  _vsnwprintf(buffer, capacity - 1, format, args);
  buffer[capacity - 1] = L'\0';
#else
  VaArguments arguments(args);
  formatDirectives(buffer, capacity, format, arguments);
#endif
}

}  // namespace utils::diag
