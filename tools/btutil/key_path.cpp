#include "key_path.h"

#include <utility>

#include "common/utf16.h"

namespace utils::btutil {

std::wstring upperAscii(std::wstring_view text) {
  std::wstring upper(text);
  for (wchar_t& c : upper) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  }
  return upper;
}

namespace {

HKEY rootByName(const std::wstring& upperName) {
  if (upperName == L"HKLM" || upperName == L"HKEY_LOCAL_MACHINE") return HKEY_LOCAL_MACHINE;
  if (upperName == L"HKCU" || upperName == L"HKEY_CURRENT_USER") return HKEY_CURRENT_USER;
  return nullptr;
}

bool isOtherWindowsRoot(const std::wstring& upperName) {
  static constexpr const wchar_t* kNames[] = {L"HKCR", L"HKEY_CLASSES_ROOT",  L"HKU", L"HKEY_USERS",
                                              L"HKCC", L"HKEY_CURRENT_CONFIG"};
  for (const wchar_t* name : kNames) {
    if (upperName == name) return true;
  }
  return false;
}

// The root name that an unknown root begins with and letters follow ("HKLMSoftware"
// is what a shell leaves of an unquoted HKLM\Software), or the empty text.
std::string_view rootPrefix(const std::wstring& upperName) {
  static constexpr std::pair<const wchar_t*, std::string_view> kRoots[] = {
      {L"HKEY_LOCAL_MACHINE", "HKEY_LOCAL_MACHINE"},
      {L"HKEY_CURRENT_USER", "HKEY_CURRENT_USER"},
      {L"HKLM", "HKLM"},
      {L"HKCU", "HKCU"}};
  for (const auto& [wide, narrow] : kRoots) {
    const std::wstring_view root(wide);
    if (upperName.size() > root.size() && upperName.starts_with(root) && upperName[root.size()] >= L'A' &&
        upperName[root.size()] <= L'Z') {
      return narrow;
    }
  }
  return {};
}

}  // namespace

bool parseKeyPath(std::wstring_view text, KeyPath* path, std::string* error) {
  if (text.empty()) {
    *error = "Invalid key name: the key path is empty.";
    return false;
  }
  if (text.size() > 1 && text.back() == L'\\') text.remove_suffix(1);
  const size_t slash = text.find(L'\\');
  const std::wstring rootName = upperAscii(text.substr(0, slash));
  const HKEY root = rootByName(rootName);
  if (root == nullptr) {
    const std::string shown = wideToUtf8(text.substr(0, slash));
    if (const std::string_view known = rootPrefix(rootName); !known.empty()) {
      *error = "Invalid key name: unknown root \"" + shown +
               "\". The key path seems to have lost its backslashes to the "
               "shell: quote it, as in '" +
               std::string(known) + "\\Software\\vorlane'.";
    } else if (isOtherWindowsRoot(rootName)) {
      *error = "Invalid key name: the root \"" + shown + "\" is not available here; use HKLM or HKCU.";
    } else {
      *error =
          "Invalid key name: unknown root \"" + shown + "\" (use HKLM, HKCU, HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER).";
    }
    return false;
  }
  std::wstring subKey;
  if (slash != std::wstring_view::npos) subKey = text.substr(slash + 1);
  if (slash != std::wstring_view::npos && subKey.empty()) {
    *error = "Invalid key name: empty subkey in \"" + wideToUtf8(text) + "\".";
    return false;
  }
  for (size_t start = 0; start <= subKey.size() && !subKey.empty();) {
    const size_t end = subKey.find(L'\\', start);
    if (end == start) {
      *error = "Invalid key name: empty component in \"" + wideToUtf8(text) + "\".";
      return false;
    }
    if (end == std::wstring::npos) break;
    start = end + 1;
  }
  path->root = root;
  path->subKey = std::move(subKey);
  return true;
}

std::wstring rootLongName(HKEY root) {
  if (root == HKEY_LOCAL_MACHINE) return L"HKEY_LOCAL_MACHINE";
  if (root == HKEY_CURRENT_USER) return L"HKEY_CURRENT_USER";
  return L"HKEY_UNKNOWN";
}

std::wstring fullPath(const KeyPath& path) {
  std::wstring text = rootLongName(path.root);
  if (!path.subKey.empty()) text += L"\\" + path.subKey;
  return text;
}

KeyPath childPath(const KeyPath& parent, std::wstring_view name) {
  KeyPath child = parent;
  if (!child.subKey.empty()) child.subKey += L'\\';
  child.subKey += name;
  return child;
}

}  // namespace utils::btutil
