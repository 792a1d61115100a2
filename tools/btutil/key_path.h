// Registry key paths as administrators write them: a root (HKLM, HKCU or their
// long names, any letter case) and a subkey path below it.
#pragma once

#include <string>
#include <string_view>

#include "utils/wintypes.h"

namespace utils::btutil {

struct KeyPath {
  HKEY root = nullptr;
  std::wstring subKey;  // components joined by backslashes; empty for the root itself
};

// Parses "HKLM\Software\vorlane". A trailing backslash is allowed; an empty
// component, an unknown or unsupported root are not (error says why).
bool parseKeyPath(std::wstring_view text, KeyPath* path, std::string* error);

// "HKEY_LOCAL_MACHINE" or "HKEY_CURRENT_USER".
std::wstring rootLongName(HKEY root);

// The path with the root's long name, as reg query and exported files print it.
std::wstring fullPath(const KeyPath& path);

// The path of a direct subkey.
KeyPath childPath(const KeyPath& parent, std::wstring_view name);

// ASCII upper-casing for comparing names and keywords.
std::wstring upperAscii(std::wstring_view text);

}  // namespace utils::btutil
