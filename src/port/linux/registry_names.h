// Key and value names as the registry store keeps them. Names compare without
// regard to letter case: each is folded to upper case one character at a time and
// the folded UTF-8 form is what the store indexes; the spelling a name was created
// with is kept beside it for display.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace utils::linuxport {

// Upper-cases one character with Unicode's simple mapping (the "C.UTF-8" locale's
// table; ASCII and Latin-1 letters when that locale is missing).
wchar_t foldChar(wchar_t c);

// The folded UTF-8 form of a name; null is the empty name.
std::string foldedName(const wchar_t* name);

// A key path below some key: its components as spelled and folded, and the
// folded components joined by backslashes.
struct KeyPath {
  std::vector<std::string> names;
  std::vector<std::string> foldedNames;
  std::string folded;
  size_t longestName = 0;  // in UTF-16 code units

  bool empty() const { return names.empty(); }
};

// Splits a path at backslashes. False for an empty component (a leading
// backslash, or two in a row); one trailing backslash is allowed. Null or empty
// is the key itself.
bool parseKeyPath(const wchar_t* path, KeyPath* out);

// Joins two folded paths ("" is the root).
std::string joinFoldedPath(std::string_view base, std::string_view relative);

}  // namespace utils::linuxport
