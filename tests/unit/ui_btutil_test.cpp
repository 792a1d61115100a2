// btutil lang and btutil unlock on the simulated platform.
#include <nlohmann/json.hpp>
#include <sstream>

#include "commands.h"
#include "common/utf16.h"
#include "console.h"
#include "policy_fixture.h"
#include "port/platform.h"
#include "ui/lang_library.h"

namespace utils::test {
namespace {

struct UnlockCall {
  int calls = 0;
  ULONGLONG context = 0;
};
UnlockCall gUnlock;
DWORD acceptUnlock(ULONGLONG context, const wchar_t*, const wchar_t*, const wchar_t*, DWORD) {
  ++gUnlock.calls;
  gUnlock.context = context;
  return 0;
}

class UiBtutilTest : public PolicyTest {
 protected:
  int run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    return btutil::runBtutil(args, out_, err_);
  }
  void installFrenchLibrary() {
    std::u16string folder = u"inst";
    folder.push_back(u'\0');
    const std::string bytes = utf16ToLeBytes(folder);
    put(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vorlane\\Pelmora", L"InstallDir", REG_SZ,
        std::vector<BYTE>(bytes.begin(), bytes.end()));
    put(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vorlane\\Pelmora\\Lang", L"DisableLangFromLocal", REG_DWORD, le(0, 4));
  }
  std::ostringstream out_, err_;
};

TEST_F(UiBtutilTest, LangShowsWhatWouldLoad) {
  const std::wstring path =
      std::wstring(L"inst") + ui::kPathSeparator + L"langs" + ui::kPathSeparator + L"VskStackFRA.dll";
  struct Row {
    LANGID language;
    bool settings, defined;
    int exitCode;
    const char* text;  // in the plain output
    nlohmann::json library, rightToLeft, loads;
  };
  const Row rows[] = {
      {1033, false, false, btutil::kExitNo, "Language library: none for this language", nullptr, false, false},
      {1036, false, false, btutil::kExitNo, "1036 (0x40c)", "VskStackFRA.dll", false, false},
      {1025, false, false, btutil::kExitNo, "Message boxes: right to left", "VskStackARA.dll", true, false},
      {1036, true, false, btutil::kExitNo, "Loads: no", "VskStackFRA.dll", false, false},
      {1036, true, true, btutil::kExitOk, "Loads: yes", "VskStackFRA.dll", false, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    sim_.shell.setLanguage(row.language);
    if (row.settings) installFrenchLibrary();
    if (row.defined) sim_.modules.define(path);
    EXPECT_EQ(row.exitCode, run({"lang"}));
    EXPECT_NE(std::string::npos, out_.str().find(row.text)) << out_.str();
    EXPECT_EQ(row.exitCode, run({"lang", "--json"}));
    const auto document = nlohmann::json::parse(out_.str());
    EXPECT_EQ(row.language, document["language"]);
    EXPECT_EQ(row.library, document["library"]);
    EXPECT_EQ(row.rightToLeft, document["rightToLeft"]);
    EXPECT_EQ(row.loads, document["loads"]);
    EXPECT_EQ(row.settings, document["path"].is_string());
    EXPECT_EQ(0, sim_.modules.openLoads()) << "the library is released again";
  }
  EXPECT_EQ(btutil::kExitUsage, run({"lang", "extra"}));
  EXPECT_TRUE(out_.str().empty());
  EXPECT_NE(std::string::npos, err_.str().find("ERROR: ")) << err_.str();
}

TEST_F(UiBtutilTest, UnlockExitCodes) {
  gUnlock = {};
  sim_.modules.define(L"VskSdkDll.dll",
                      {{"LE_EnableUnlockFeature", reinterpret_cast<port::ModuleEntry>(&acceptUnlock)}});
  sim_.credentials.setAccount(L"alice", L"");
  sim_.credentials.setAccountPassword(L"pw");
  sim_.credentials.setEntry({.password = L"pw"});
  EXPECT_EQ(btutil::kExitOk, run({"unlock", "--context", "0x1234"}));
  EXPECT_EQ(0x1234u, gUnlock.context);
  EXPECT_EQ(btutil::kExitOk, run({"unlock", "--context", "18446744073709551615"}));
  EXPECT_EQ(UINT64_MAX, gUnlock.context);
  EXPECT_EQ(btutil::kExitOk, run({"unlock"}));
  EXPECT_EQ(0u, gUnlock.context);
  EXPECT_EQ(3, gUnlock.calls);

  sim_.credentials.setEntry({.password = L"wrong"});
  EXPECT_EQ(btutil::kExitNo, run({"unlock"}));
  EXPECT_NE(std::string::npos, out_.str().find("Not unlocked")) << out_.str();
  EXPECT_EQ(3, gUnlock.calls);

  // Bad command lines prompt for nothing.
  const size_t prompts = sim_.credentials.prompts().size();
  for (const std::vector<std::string>& line : std::vector<std::vector<std::string>>{
           {"unlock", "--context", "x12"},
           {"unlock", "--context", "18446744073709551616"},
           {"unlock", "--context", "-1"},
           {"unlock", "--context"},
           {"unlock", "extra"},
       }) {
    SCOPED_TRACE(line.back());
    EXPECT_EQ(btutil::kExitUsage, run(line));
    EXPECT_TRUE(out_.str().empty());
  }
  EXPECT_EQ(prompts, sim_.credentials.prompts().size());

  // A build without the prompt or the language support says so.
  port::Platform record = port::platform();
  record.credentials = nullptr;
  record.shell = nullptr;
  port::installPlatform(record);
  EXPECT_EQ(btutil::kExitFailed, run({"unlock"}));
  EXPECT_EQ(btutil::kExitFailed, run({"lang"}));
}

TEST_F(UiBtutilTest, HelpGivesTheAnswers) {
  EXPECT_EQ(0, run({"help", "unlock"}));
  EXPECT_NE(std::string::npos, out_.str().find("0  unlocked\n  1  not unlocked\n")) << out_.str();
  EXPECT_EQ(0, run({"lang", "--help"}));
  EXPECT_NE(std::string::npos, out_.str().find("1  no language library loads")) << out_.str();
  EXPECT_EQ(0, run({"--help"}));
  EXPECT_NE(std::string::npos, out_.str().find("not unlocked (unlock)")) << out_.str();
  EXPECT_NE(std::string::npos, out_.str().find("btutil unlock [--context N]")) << out_.str();
}

}  // namespace
}  // namespace utils::test
