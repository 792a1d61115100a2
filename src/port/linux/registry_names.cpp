#include "port/linux/registry_names.h"

#include <locale.h>
#include <wctype.h>

#include <algorithm>

#include "common/utf16.h"
#include "port/registry_port.h"

namespace utils::linuxport {
namespace {

// The locale whose case table folds names; created once, kept for the process.
locale_t foldingLocale() {
  static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  return locale;
}

wchar_t foldLatin1(wchar_t c) {
  if ((c >= L'a' && c <= L'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return static_cast<wchar_t>(c - 0x20);
  return c;
}

}  // namespace

wchar_t foldChar(wchar_t c) {
  if (c < 0x80) return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 0x20) : c;
  const locale_t locale = foldingLocale();
  if (locale == static_cast<locale_t>(nullptr)) return foldLatin1(c);
  return static_cast<wchar_t>(towupper_l(static_cast<wint_t>(c), locale));
}

std::string foldedName(const wchar_t* name) {
  if (name == nullptr) return {};
  std::wstring folded(name);
  for (wchar_t& c : folded) c = foldChar(c);
  return wideToUtf8(folded);
}

bool parseKeyPath(const wchar_t* path, KeyPath* out) {
  *out = KeyPath{};
  if (path == nullptr) return true;
  std::wstring_view rest(path);
  while (!rest.empty()) {
    const size_t end = rest.find(L'\\');
    const std::wstring_view component = rest.substr(0, end);
    if (component.empty()) return false;
    out->longestName = std::max(out->longestName, port::utf16Length(component));
    std::wstring folded(component);
    for (wchar_t& c : folded) c = foldChar(c);
    out->names.push_back(wideToUtf8(component));
    out->foldedNames.push_back(wideToUtf8(folded));
    if (!out->folded.empty()) out->folded.push_back('\\');
    out->folded += out->foldedNames.back();
    if (end == std::wstring_view::npos) break;
    rest.remove_prefix(end + 1);  // a single trailing backslash leaves rest empty
  }
  return true;
}

std::string joinFoldedPath(std::string_view base, std::string_view relative) {
  if (base.empty()) return std::string(relative);
  if (relative.empty()) return std::string(base);
  std::string joined;
  joined.reserve(base.size() + 1 + relative.size());
  joined.append(base).push_back('\\');
  joined.append(relative);
  return joined;
}

}  // namespace utils::linuxport
