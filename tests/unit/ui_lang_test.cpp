// The language resource library on the simulated registry, shell and modules.
#include <string>

#include "common/utf16.h"
#include "policy_fixture.h"
#include "ui/lang_library.h"
#include "utils/ui.h"

namespace utils::test {
namespace {

const std::wstring kSuite = L"SOFTWARE\\Vorlane\\Pelmora";
const std::wstring kLang = L"SOFTWARE\\Vorlane\\Pelmora\\Lang";
constexpr wchar_t kSep = ui::kPathSeparator;

class LangTest : public PolicyTest {
 protected:
  void putText(const std::wstring& path, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
    std::u16string units = wideToUtf16(text);
    units.push_back(u'\0');
    const std::string bytes = utf16ToLeBytes(units);
    put(HKEY_LOCAL_MACHINE, path, name, type, std::vector<BYTE>(bytes.begin(), bytes.end()));
  }
  void putFlag(DWORD value) { put(HKEY_LOCAL_MACHINE, kLang, L"DisableLangFromLocal", REG_DWORD, le(value, 4)); }
  std::wstring expectedPath(const std::wstring& folder, const wchar_t* file) {
    return folder + kSep + L"langs" + kSep + file;
  }
};

TEST_F(LangTest, FolderGetsItsSeparatorAndTheLanguageFile) {
  const std::wstring folder = std::wstring(L"inst") + kSep + L"Pelmora";
  putText(kSuite, L"InstallDir", folder);
  putFlag(0);
  sim_.shell.setLanguage(1036);
  const std::wstring path = expectedPath(folder, L"VskStackFRA.dll");
  sim_.modules.define(path);
  HMODULE module = LoadVskStackLangLibrary();
  ASSERT_NE(nullptr, module);
  EXPECT_EQ(std::vector<std::wstring>{path}, sim_.modules.namesAsked());
  // The caller's handle is one load, released by the caller.
  EXPECT_EQ(1, sim_.modules.openLoads());
#if !defined(_WIN32)
  EXPECT_EQ(TRUE, FreeLibrary(module));
  EXPECT_EQ(FALSE, FreeLibrary(nullptr));
#else
  sim_.modules.release(module);
#endif
  EXPECT_EQ(0, sim_.modules.openLoads());

  // A folder that already ends with the separator gets no second one.
  putText(kSuite, L"InstallDir", folder + kSep);
  wchar_t buffer[ui::kMaxPathChars];
  ASSERT_EQ(TRUE, ui::getLangLibraryPath(buffer, ui::kMaxPathChars));
  EXPECT_EQ(path, buffer);
}

TEST_F(LangTest, SettingNamesTheLibraryWhateverTheLanguage) {
  putFlag(1);
  putText(kLang, L"VskStack", L"elsewhere.dll");
  sim_.shell.setLanguage(1033);
  sim_.modules.define(L"elsewhere.dll");
  HMODULE module = LoadVskStackLangLibrary();
  EXPECT_NE(nullptr, module);
  sim_.modules.release(module);

  // A number in its place names no path; a missing library loads nothing.
  put(HKEY_LOCAL_MACHINE, kLang, L"VskStack", REG_DWORD, le(0x41, 4));
  EXPECT_EQ(nullptr, LoadVskStackLangLibrary());
  putText(kLang, L"VskStack", L"missing.dll");
  EXPECT_EQ(nullptr, LoadVskStackLangLibrary());
  EXPECT_EQ((std::vector<std::wstring>{L"elsewhere.dll", L"missing.dll"}), sim_.modules.namesAsked());
}

TEST_F(LangTest, NoLangKeyNoFolderOrNoLibraryLoadsNothing) {
  putText(kSuite, L"InstallDir", L"dir");
  sim_.shell.setLanguage(1036);
  EXPECT_EQ(nullptr, LoadVskStackLangLibrary());  // no "Lang" key at all
  putFlag(0);
  sim_.shell.setLanguage(1033);
  EXPECT_EQ(nullptr, LoadVskStackLangLibrary());  // a language without a library
  sim_.shell.setLanguage(1036);
  put(HKEY_LOCAL_MACHINE, kSuite, L"InstallDir", REG_DWORD, le(1, 4));
  EXPECT_EQ(nullptr, LoadVskStackLangLibrary());  // InstallDir not a string
  putText(kSuite, L"InstallDir", L"");
  EXPECT_EQ(nullptr, LoadVskStackLangLibrary());  // an empty folder is no folder
  EXPECT_TRUE(sim_.modules.namesAsked().empty());
}

TEST_F(LangTest, LongPathsAreRefusedNeverCut) {
  putFlag(0);
  sim_.shell.setLanguage(1036);
  const std::wstring suffix = std::wstring(1, kSep) + L"langs" + kSep + L"VskStackFRA.dll";
  // The longest folder whose path still fits 259 characters, and one more.
  const std::wstring fits(259 - suffix.size(), L'a');
  putText(kSuite, L"InstallDir", fits);
  wchar_t buffer[ui::kMaxPathChars];
  ASSERT_EQ(TRUE, ui::getLangLibraryPath(buffer, ui::kMaxPathChars));
  EXPECT_EQ(259u, std::wstring(buffer).size());
  putText(kSuite, L"InstallDir", fits + L"a");
  EXPECT_EQ(FALSE, ui::getLangLibraryPath(buffer, ui::kMaxPathChars));
  EXPECT_EQ(nullptr, LoadVskStackLangLibrary());
  // A folder longer than the stored bound (260 with the terminator) is not read.
  putText(kSuite, L"InstallDir", std::wstring(260, L'b'));
  EXPECT_EQ(FALSE, ui::getLangLibraryPath(buffer, ui::kMaxPathChars));
  // A destination too small for the whole path gets nothing, not a cut path.
  putText(kSuite, L"InstallDir", L"d");
  wchar_t small[10] = {L'x'};
  EXPECT_EQ(FALSE, ui::getLangLibraryPath(small, 10));
  EXPECT_EQ(FALSE, ui::getLangLibraryPath(nullptr, 10));
  // The same for the "VskStack" setting.
  putFlag(1);
  putText(kLang, L"VskStack", std::wstring(260, L'c'));
  EXPECT_EQ(nullptr, LoadVskStackLangLibrary());
  EXPECT_TRUE(sim_.modules.namesAsked().empty());
}

TEST_F(LangTest, RightToLeftOnlyForArabicAndHebrew) {
  for (const auto& [language, style] : std::vector<std::pair<LANGID, DWORD>>{
           {1025, 0x100000}, {1037, 0x100000}, {3073, 0}, {1033, 0}, {1036, 0}, {0, 0}}) {
    sim_.shell.setLanguage(language);
    EXPECT_EQ(style, GetAdditionalMessageBoxStyle()) << language;
  }
}

}  // namespace
}  // namespace utils::test
