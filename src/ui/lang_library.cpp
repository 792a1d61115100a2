// The language resource library: where the settings and the user's interface
// language lead, and loading it. Message boxes read right to left for Arabic and
// Hebrew.
#include "ui/lang_library.h"

#include <cstring>
#include <string>

#include "common/utf16.h"
#include "diag/export_guard.h"
#include "port/platform.h"
#include "ui/lang_table.h"
#include "utils/ui.h"

namespace utils::ui {
namespace {

constexpr const wchar_t* kSuiteKey = L"SOFTWARE\\Vorlane\\Pelmora";
constexpr const wchar_t* kLangKey = L"SOFTWARE\\Vorlane\\Pelmora\\Lang";
constexpr DWORD kPathBytes = kMaxPathChars * 2;  // the stored form is UTF-16
constexpr DWORD kRtlReading = 0x100000;          // MB_RTLREADING

// Stored UTF-16 bytes as a wide string, up to the first terminator.
std::wstring storedText(const BYTE* bytes, DWORD size) {
  std::wstring text = utf16ToWide(leBytesToUtf16(bytes, size));
  const size_t end = text.find(L'\0');
  if (end != std::wstring::npos) text.resize(end);
  return text;
}

// Copies text with its terminator when it fits whole.
bool copyWhole(const std::wstring& text, wchar_t* destination, DWORD size) {
  if (text.size() >= size) return false;
  text.copy(destination, text.size());
  destination[text.size()] = L'\0';
  return true;
}

}  // namespace

BOOL getLangLibraryPath(wchar_t* destination, DWORD size) {
  if (destination == nullptr || size == 0) return FALSE;
  BYTE folderBytes[kPathBytes];
  DWORD folderSize = sizeof folderBytes;
  if (port::platform().registry->getValue(HKEY_LOCAL_MACHINE, kSuiteKey, L"InstallDir", RRF_RT_REG_SZ, nullptr,
                                          folderBytes, &folderSize) != ERROR_SUCCESS) {
    return FALSE;
  }
  std::wstring path = storedText(folderBytes, folderSize);
  // An empty folder would make a relative path that the loader looks for along
  // its search order: nothing is loaded rather than whatever is found there.
  if (path.empty()) return FALSE;
  if (path.back() != kPathSeparator) path.push_back(kPathSeparator);

  const wchar_t* fileName = languageLibraryFileName(port::platform().shell->userUiLanguage());
  if (fileName == nullptr) return FALSE;
  path += L"langs";
  path.push_back(kPathSeparator);
  path += fileName;
  if (path.size() >= kMaxPathChars) return FALSE;
  return copyWhole(path, destination, size) ? TRUE : FALSE;
}

bool langLibraryPathToLoad(wchar_t (&path)[kMaxPathChars]) {
  path[0] = L'\0';
  port::RegistryPort& registry = *port::platform().registry;
  port::ScopedKey key(registry);
  if (registry.openKey(HKEY_LOCAL_MACHINE, kLangKey, KEY_READ, key.out()) != ERROR_SUCCESS) return false;

  BYTE flag[4] = {};
  DWORD flagSize = sizeof flag;
  if (registry.queryValue(key.get(), L"DisableLangFromLocal", nullptr, flag, &flagSize) != ERROR_SUCCESS) {
    std::memset(flag, 0, sizeof flag);
  }
  if ((flag[0] | flag[1] | flag[2] | flag[3]) != 0) {
    BYTE bytes[kPathBytes];
    DWORD byteCount = sizeof bytes;
    DWORD type = REG_NONE;
    // Only a string names a path; a longer one than the buffer is not cut.
    if (registry.queryValue(key.get(), L"VskStack", &type, bytes, &byteCount) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
      copyWhole(storedText(bytes, byteCount), path, kMaxPathChars);
    }
  } else {
    getLangLibraryPath(path, kMaxPathChars);
  }
  return path[0] != L'\0';
}

}  // namespace utils::ui

extern "C" {

UTILS_API HMODULE LoadVskStackLangLibrary(void) {
  return utils::diag::guardExport("LoadVskStackLangLibrary", HMODULE{nullptr}, []() -> HMODULE {
    wchar_t path[utils::ui::kMaxPathChars];
    if (!utils::ui::langLibraryPathToLoad(path)) return nullptr;
    HMODULE module = nullptr;
    if (utils::port::platform().module->load(path, &module) != ERROR_SUCCESS) return nullptr;
    return module;
  });
}

UTILS_API DWORD GetAdditionalMessageBoxStyle(void) {
  return utils::diag::guardExport("GetAdditionalMessageBoxStyle", DWORD{0}, []() -> DWORD {
    const LANGID language = utils::port::platform().shell->userUiLanguage();
    return (language == 0x0401 || language == 0x040D) ? utils::ui::kRtlReading : 0;
  });
}

#if !defined(_WIN32)
UTILS_API BOOL FreeLibrary(HMODULE module) {
  if (module == nullptr) return FALSE;
  return utils::diag::guardExport("FreeLibrary", BOOL{FALSE}, [module]() -> BOOL {
    return utils::port::platform().module->release(module) == ERROR_SUCCESS ? TRUE : FALSE;
  });
}
#endif

}  // extern "C"
