// btutil unlock on the simulated platform: the context given to the unlock
// component, its answers and command lines that prompt for nothing. (btutil
// lang is tested end to end in integration/ui_btutil_test.sh, the help of every
// command in btutil_help_test.cpp.)
#include <sstream>

#include "commands.h"
#include "console.h"
#include "policy_fixture.h"
#include "port/platform.h"

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
  std::ostringstream out_, err_;
};

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

}  // namespace
}  // namespace utils::test
