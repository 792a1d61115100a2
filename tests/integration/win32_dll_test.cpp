// utils.dll as a Windows program uses it: loaded at run time, its load step
// reading the machine-wide debug settings, its trace lines reaching a debug
// monitor, its registry helpers working on the real registry. The settings are
// written before the DLL is loaded and restored afterwards.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "dbwin_capture.h"
#include "utils.h"

namespace {

using utils::testing::DbwinCapture;

constexpr const wchar_t* kSettingsKey = L"Software\\vorlane";

// A machine-wide debug setting, put back as it was when the test suite ends.
class SavedSetting {
 public:
  explicit SavedSetting(const wchar_t* name) : name_(name) {
    saved_ = RegGetValueW(HKEY_LOCAL_MACHINE, kSettingsKey, name, RRF_RT_ANY, &type_, value_, &size_) == ERROR_SUCCESS;
  }
  ~SavedSetting() {
    if (saved_) {
      RegSetKeyValueW(HKEY_LOCAL_MACHINE, kSettingsKey, name_, type_, value_, size_);
    } else {
      RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSettingsKey, name_);
    }
  }
  SavedSetting(const SavedSetting&) = delete;
  SavedSetting& operator=(const SavedSetting&) = delete;

  LSTATUS set(DWORD value) const {
    return RegSetKeyValueW(HKEY_LOCAL_MACHINE, kSettingsKey, name_, REG_DWORD, &value, sizeof value);
  }

 private:
  const wchar_t* name_;
  bool saved_ = false;
  DWORD type_ = 0;
  BYTE value_[64] = {};
  DWORD size_ = sizeof value_;
};

// The exported functions, resolved by name as a caller that loads the DLL does.
// clang-format off
#define UTILS_DLL_EXPORTS(X)                                                                                        \
  X(WRITELOG_A) X(WRITELOG_W) X(VRLN_BT_TRACE) X(VRLN_BT_TRACE_BME_A) X(VRLN_BT_TRACE_BME_W) X(VRLN_BT_TRACE_BME_U)  \
  X(VRLN_BT_ATLTRACE_A) X(VRLN_BT_ATLTRACE_W) X(VRLN_BT_ATLTRACE_U) X(BT2Lptstr) X(stristr) X(SetRegisterDWORD)     \
  X(GetRegisterDWORD) X(SetRegisterStr) X(GetRegisterStr) X(CreateRegisterSubKey) X(DeleteRegisterSubkey)           \
  X(DeleteRegisterSubTree)
// clang-format on
struct Exports {
#define UTILS_EXPORT_FIELD(name) decltype(&::name) name = nullptr;
  UTILS_DLL_EXPORTS(UTILS_EXPORT_FIELD)
  // False when one is missing. GetProcAddress returns a generic function pointer.
  bool resolve(HMODULE module) {
    bool all = true;
#define UTILS_RESOLVE_EXPORT(name)                                                                 \
  name = reinterpret_cast<decltype(name)>(reinterpret_cast<void*>(GetProcAddress(module, #name))); \
  all = all && name != nullptr;
    UTILS_DLL_EXPORTS(UTILS_RESOLVE_EXPORT)
    return all;
  }
};

class Win32DllTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    logDebug_ = new SavedSetting(L"LogDebug");
    appDebug_ = new SavedSetting(L"EnableAppDebug");
    capture_ = new DbwinCapture;
    // Log level 4 and 8; application trace bits 0x1 to 0x8, with bit 16 to be ignored.
    if (logDebug_->set(0x0C) != ERROR_SUCCESS || appDebug_->set(0x1000F) != ERROR_SUCCESS) {
      setupError_ = "cannot write the debug settings under HKLM";
      return;
    }
    module_ = LoadLibraryW(L"utils.dll");  // from the working folder, the DLL's
    if (module_ == nullptr) {
      setupError_ = "LoadLibraryW failed with " + std::to_string(GetLastError());
      return;
    }
    if (!exports_.resolve(module_)) setupError_ = "an export is missing";
  }

  static void TearDownTestSuite() {
    if (module_ != nullptr) FreeLibrary(module_);
    module_ = nullptr;
    delete capture_;
    delete appDebug_;
    delete logDebug_;
  }

  void SetUp() override {
    ASSERT_TRUE(setupError_.empty()) << setupError_;
    if (!capture_->ready()) GTEST_SKIP() << capture_->error();
    capture_->clear();
  }

  static inline SavedSetting* logDebug_ = nullptr;
  static inline SavedSetting* appDebug_ = nullptr;
  static inline DbwinCapture* capture_ = nullptr;
  static inline HMODULE module_ = nullptr;
  static inline Exports exports_{};
  static inline std::string setupError_;
};

// "[ h:mm:ss][level][module]message\n"
::testing::AssertionResult isLogLine(const std::string& line, const std::string& level, const std::string& module,
                                     const std::string& message) {
  const std::regex prefix(R"(^\[[ 12]\d:[0-5]\d:[0-5]\d\]\[)");
  const std::string rest = "][" + module + "]" + message + "\n";
  if (std::regex_search(line, prefix) && line.size() == 11 + level.size() + rest.size() &&
      line.compare(11, level.size(), level) == 0 && line.compare(11 + level.size(), std::string::npos, rest) == 0) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "not a log line of level " << level << ", module [" << module << "]: \""
                                       << line << "\"";
}

// What the levels, masks and directives mean is the unit tests' (on the
// simulation, also built for Windows): here that the load step read the masks
// from the real registry and that each exported trace function reaches a debug
// monitor.
TEST_F(Win32DllTest, LoadStepReadsTheLogLevelMask) {
  const Exports& e = exports_;
  e.WRITELOG_A(4, nullptr, "x=%d", 5);
  e.WRITELOG_A(3, "skipped", "level 3 shares no bit with 0x0C");
  e.WRITELOG_A(8, "mod", "%s|%5.2f|%c", "narrow", 2.5, 'z');
  // Windows callers format wide strings with %s in a wide format, narrow ones with %S.
  e.WRITELOG_W(4, L"utils", L"%s and %d and %S", L"wide", 3, "narrow");
  e.WRITELOG_W(1, L"utils", L"level 1 is masked out");

  const auto lines = capture_->flush();
  ASSERT_EQ(lines.size(), 3u) << "a masked line was written, or a line is missing";
  EXPECT_TRUE(isLogLine(lines[0], "4", "", "x=5"));
  EXPECT_TRUE(isLogLine(lines[1], "8", "mod", "narrow| 2.50|z"));
  EXPECT_TRUE(isLogLine(lines[2], "4", "utils", "wide and 3 and narrow"));
}

TEST_F(Win32DllTest, TraceFunctionsFollowTheApplicationMask) {
  const Exports& e = exports_;
  e.VRLN_BT_TRACE("t=%d", 1);
  e.VRLN_BT_TRACE_BME_A("a=%s", "x");
  e.VRLN_BT_TRACE_BME_W(L"w=%s", L"y");
  e.VRLN_BT_TRACE_BME_U(L"u=%s", L"y");
  e.VRLN_BT_ATLTRACE_A("atl=%d\n", 4);
  e.VRLN_BT_ATLTRACE_W(L"atlw=%s", L"q");
  e.VRLN_BT_ATLTRACE_U(L"atlu");
  // Over-long text reaches the monitor cut to 2,047 characters.
  const std::string longText(3000, 'k');
  e.VRLN_BT_TRACE("%s", longText.c_str());

  const auto texts = capture_->flush();
  ASSERT_EQ(texts.size(), 9u);
  EXPECT_EQ(texts[0], "AppDebug=15\n") << "bit 16 of the stored value is ignored";
  EXPECT_EQ(texts[1], "t=1");
  EXPECT_EQ(texts[2], "a=x");
  EXPECT_EQ(texts[3], "w=y");
  EXPECT_EQ(texts[4], "u=y");
  EXPECT_TRUE(isLogLine(texts[5], "4", "", "atl=4\n"));
  EXPECT_TRUE(isLogLine(texts[6], "4", "", "atlw=q"));
  EXPECT_EQ(texts[7], "atlu");
  EXPECT_EQ(texts[8], longText.substr(0, 2047));
}

// Text functions take 16-bit wide characters across the DLL's boundary.
TEST_F(Win32DllTest, TextFunctionsUseSixteenBitWideText) {
  const Exports& e = exports_;
  const BtAddr bt = 0x1A7DDA7113ULL;
  wchar_t text[18];
  std::memset(text, 0xFF, sizeof text);
  EXPECT_EQ(e.BT2Lptstr(text, &bt), text);
  EXPECT_EQ(std::wstring(text), L"00:1a:7d:da:71:13");
  wchar_t haystack[] = L"Hello World";
  EXPECT_EQ(e.stristr(haystack, 12, L"WORLD"), haystack + 6);
}

// The helpers' rules are checked on the simulated registry (registry_helpers_test):
// here what they store in the real one and read back from it.
TEST_F(Win32DllTest, RegistryHelpersWorkOnTheRealRegistry) {
  const Exports& e = exports_;
  const std::wstring path = L"Software\\utils-test\\dll-" + std::to_wstring(GetCurrentProcessId());
  const std::wstring sub = path + L"\\Sub";
  ASSERT_EQ(e.SetRegisterDWORD(sub.c_str(), L"Count", 0xA1B2C3D4, HKEY_CURRENT_USER), 1);
  ASSERT_EQ(e.SetRegisterStr(sub.c_str(), L"Name", L"caf\u00E9", HKEY_CURRENT_USER), 1);
  const BYTE dword[] = {0xD4, 0xC3, 0xB2, 0xA1};
  const BYTE utf16le[] = {'c', 0, 'a', 0, 'f', 0, 0xE9, 0, 0, 0};
  const struct {
    const wchar_t* name;
    DWORD type;
    const BYTE* bytes;
    DWORD size;
  } stored[] = {{L"Count", REG_DWORD, dword, sizeof dword}, {L"Name", REG_SZ, utf16le, sizeof utf16le}};
  for (const auto& value : stored) {
    DWORD type = 0;
    BYTE bytes[32] = {};
    DWORD size = sizeof bytes;
    ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, sub.c_str(), value.name, RRF_RT_ANY, &type, bytes, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, value.type);
    EXPECT_EQ(std::string(bytes, bytes + size), std::string(value.bytes, value.bytes + value.size));
  }
  DWORD read = 0;
  EXPECT_EQ(e.GetRegisterDWORD(sub.c_str(), L"count", &read, HKEY_CURRENT_USER), 1);
  EXPECT_EQ(read, 0xA1B2C3D4u);
  wchar_t buffer[8] = {};
  EXPECT_EQ(e.GetRegisterStr(sub.c_str(), L"Name", buffer, 8, HKEY_CURRENT_USER), 1);
  EXPECT_EQ(std::wstring(buffer), L"caf\u00E9");

  EXPECT_EQ(e.CreateRegisterSubKey((sub + L"\\New").c_str(), HKEY_CURRENT_USER), 1);
  EXPECT_EQ(e.DeleteRegisterSubkey(sub.c_str(), L"Count", HKEY_CURRENT_USER), 1);
  EXPECT_EQ(e.GetRegisterDWORD(sub.c_str(), L"Count", &read, HKEY_CURRENT_USER), 0);
  EXPECT_EQ(e.DeleteRegisterSubTree(path.c_str(), HKEY_CURRENT_USER), 1);
  HKEY gone = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
  RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\utils-test");
}

}  // namespace
