// btutil lang and btutil unlock on the simulated platform.
#include <nlohmann/json.hpp>
#include <sstream>

#include "commands.h"
#include "common/utf16.h"
#include "console.h"
#include "policy_fixture.h"
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
  sim_.shell.setLanguage(1036);
  EXPECT_EQ(btutil::kExitNo, run({"lang"}));
  EXPECT_NE(std::string::npos, out_.str().find("1036 (0x40c)")) << out_.str();
  EXPECT_NE(std::string::npos, out_.str().find("VskStackFRA.dll")) << out_.str();
  EXPECT_NE(std::string::npos, out_.str().find("Would load: nothing")) << out_.str();

  installFrenchLibrary();
  const std::wstring path =
      std::wstring(L"inst") + ui::kPathSeparator + L"langs" + ui::kPathSeparator + L"VskStackFRA.dll";
  EXPECT_EQ(btutil::kExitNo, run({"lang"}));
  EXPECT_NE(std::string::npos, out_.str().find("Loads: no")) << out_.str();
  sim_.modules.define(path);
  EXPECT_EQ(btutil::kExitOk, run({"lang"}));
  EXPECT_NE(std::string::npos, out_.str().find("Loads: yes")) << out_.str();
  EXPECT_EQ(0, sim_.modules.openLoads()) << "the library is released again";

  EXPECT_EQ(btutil::kExitUsage, run({"lang", "extra"}));
  EXPECT_TRUE(out_.str().empty());
  EXPECT_NE(std::string::npos, err_.str().find("ERROR: ")) << err_.str();
}

TEST_F(UiBtutilTest, LangJson) {
  sim_.shell.setLanguage(1037);  // Hebrew: no library of its own, right to left
  EXPECT_EQ(btutil::kExitNo, run({"lang", "--json"}));
  auto document = nlohmann::json::parse(out_.str());
  EXPECT_EQ(1037, document["language"]);
  EXPECT_TRUE(document["library"].is_null());
  EXPECT_TRUE(document["path"].is_null());
  EXPECT_EQ(true, document["rightToLeft"]);
  EXPECT_EQ(false, document["loads"]);

  sim_.shell.setLanguage(1036);
  installFrenchLibrary();
  const std::wstring path =
      std::wstring(L"inst") + ui::kPathSeparator + L"langs" + ui::kPathSeparator + L"VskStackFRA.dll";
  sim_.modules.define(path);
  EXPECT_EQ(btutil::kExitOk, run({"lang", "--json"}));
  document = nlohmann::json::parse(out_.str());
  EXPECT_EQ("VskStackFRA.dll", document["library"]);
  EXPECT_EQ(false, document["rightToLeft"]);
  EXPECT_EQ(true, document["loads"]);
  EXPECT_TRUE(document["path"].is_string());
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
