// Bounded printf-style formatting for the trace family, with the Windows meaning
// of the format directives on every platform (see format_directives.h): in a
// wide format %s and %c take wide arguments and %S, %hs narrow ones; %I64d and
// %Iu take 64-bit and pointer-sized numbers. On Windows the C runtime formats;
// elsewhere the library's own formatter does, without the C library's locale
// and without allocating.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace utils::diag {

// Formats into buffer (capacity elements, capacity > 0), cutting the text at
// capacity - 1 elements. The result is always terminated.
void formatBounded(char* buffer, size_t capacity, const char* format, va_list args);
void formatBounded(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args);

}  // namespace utils::diag
