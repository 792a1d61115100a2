// Case-insensitive search of a wide pattern in a wide text, folding case as the
// C runtime's current locale does (only A to Z in the default locale).
#include <cwchar>
#include <cwctype>

#include "utils/registry.h"

namespace {

wchar_t lower(wchar_t c) { return static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c))); }

// True when pattern matches text at its start, folding both.
bool matchesAt(const wchar_t* text, const wchar_t* pattern) {
  for (; *pattern != L'\0'; ++text, ++pattern) {
    if (*text == L'\0' || lower(*text) != lower(*pattern)) return false;
  }
  return true;
}

}  // namespace

// The search folds on the fly instead of lower-casing heap copies: the answer is
// the same and nothing can fail for want of memory.
extern "C" UTILS_API wchar_t* stristr(wchar_t* text, size_t size, const wchar_t* pattern) {
  if (text == nullptr || pattern == nullptr) return text;
  if (pattern[0] == L'\0') return text;
  // The text must be terminated within its buffer; otherwise there is no match.
  const wchar_t* end = std::wmemchr(text, L'\0', size);
  if (end == nullptr) return nullptr;
  for (wchar_t* candidate = text; candidate < end; ++candidate) {
    if (matchesAt(candidate, pattern)) return candidate;
  }
  return nullptr;
}
