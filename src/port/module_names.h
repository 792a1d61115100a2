// How a library that Windows names "X.dll" is named on a platform whose shared
// objects end in ".so": the same name with the suffix replaced.
#pragma once

#include <string>
#include <string_view>

namespace utils::port {

// name with a final ".dll" (any letter case) replaced by ".so"; other names as
// they are. Folders in name are kept.
inline std::wstring sharedObjectName(std::wstring_view name) {
  constexpr std::wstring_view kDll = L".dll";
  if (name.size() >= kDll.size()) {
    const std::wstring_view tail = name.substr(name.size() - kDll.size());
    bool isDll = true;
    for (size_t i = 0; i < kDll.size(); ++i) {
      const wchar_t c = (tail[i] >= L'A' && tail[i] <= L'Z') ? static_cast<wchar_t>(tail[i] - L'A' + L'a') : tail[i];
      isDll = isDll && c == kDll[i];
    }
    if (isDll) return std::wstring(name.substr(0, name.size() - kDll.size())) + L".so";
  }
  return std::wstring(name);
}

}  // namespace utils::port
