// GetUserPassword on the simulated session, prompt, logon and unlock component.
#include <cstring>
#include <string>

#include "sim_fixture.h"
#include "utils/ui.h"

namespace utils::test {
namespace {

// What the unlock component received, copied while the call ran.
struct UnlockCall {
  ULONGLONG context = 0;
  std::wstring userName, domain, password;
  DWORD length = 0;
  const wchar_t* passwordAddress = nullptr;
};
std::vector<UnlockCall>* gUnlockCalls = nullptr;  // the running test's record
DWORD gUnlockAnswer = 0;

DWORD recordUnlock(ULONGLONG context, const wchar_t* userName, const wchar_t* domain, const wchar_t* password,
                   DWORD length) {
  gUnlockCalls->push_back({context, userName, domain, password, length, password});
  return gUnlockAnswer;
}

class PasswordTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    gUnlockCalls = &calls_;
    gUnlockAnswer = 0;
    sim_.credentials.setAccount(L"alice", L"OFFICE");
    sim_.credentials.setAccountPassword(L"s3cret");
    defineUnlock();
  }
  void TearDown() override {
    gUnlockCalls = nullptr;
    // Every record went back to the port, wiped.
    EXPECT_EQ(0, sim_.credentials.liveRecords());
    for (const auto& released : sim_.credentials.released()) EXPECT_TRUE(released.wiped);
    EXPECT_EQ(0, sim_.modules.openLoads());
    SimTest::TearDown();
  }
  void defineUnlock(const char* entry = "LE_EnableUnlockFeature") {
    sim_.modules.define(L"VskSdkDll.dll", {{entry, reinterpret_cast<port::ModuleEntry>(&recordUnlock)}});
  }
  void enter(const std::wstring& password) { sim_.credentials.setEntry({.password = password}); }
  HWND parent_ = reinterpret_cast<HWND>(0x4242);
  std::vector<UnlockCall> calls_;
};

TEST_F(PasswordTest, RightPasswordReachesTheUnlockComponent) {
  sim_.credentials.setPackage(7);
  enter(L"s3cret");
  EXPECT_EQ(TRUE, GetUserPassword(0x1122334455667788ULL, parent_));

  ASSERT_EQ(1u, calls_.size());
  EXPECT_EQ(0x1122334455667788ULL, calls_[0].context);
  EXPECT_EQ(L"alice", calls_[0].userName);
  EXPECT_EQ(L"OFFICE", calls_[0].domain);
  EXPECT_EQ(L"s3cret", calls_[0].password);
  EXPECT_EQ(6u, calls_[0].length);
  EXPECT_EQ(std::vector<std::wstring>{L"VskSdkDll.dll"}, sim_.modules.namesAsked());
  EXPECT_EQ(1, sim_.modules.releases());
  // The buffer the component read is zero now.
  ASSERT_EQ(1u, sim_.credentials.released().size());
  EXPECT_EQ(calls_[0].passwordAddress, sim_.credentials.released()[0].record->password);
  EXPECT_EQ(0, std::wmemcmp(calls_[0].passwordAddress, std::wstring(200, L'\0').c_str(), 200));

  const auto prompts = sim_.credentials.prompts();
  ASSERT_EQ(1u, prompts.size());
  EXPECT_EQ(parent_, prompts[0].parent);
  EXPECT_EQ(L"Bluetooth Proximity", prompts[0].caption);
  EXPECT_EQ(L"Enter password for user account.", prompts[0].message);
  EXPECT_EQ(L"alice", prompts[0].userName);
  EXPECT_EQ(7u, prompts[0].authPackage);
  EXPECT_EQ(std::vector<std::string>{"Kerberos"}, sim_.credentials.packagesAsked());
  // The logon used the session's account, not what the prompt handed back.
  ASSERT_EQ(1u, sim_.credentials.logons().size());
  EXPECT_EQ(L"OFFICE", sim_.credentials.logons()[0].domain);
  EXPECT_TRUE(sim_.credentials.warnings().empty());
}

TEST_F(PasswordTest, PromptOutcomesThatUnlockNothing) {
  struct Row {
    const char* what;
    DWORD error;
    port::PromptStep failedStep;
    const wchar_t* password;
    bool warns;
  };
  const Row rows[] = {
      {"wrong password", 0, port::PromptStep::kNone, L"guess", true},
      {"cancelled", ERROR_CANCELLED, port::PromptStep::kPrompt, L"", false},
      {"not packed", ERROR_INSUFFICIENT_BUFFER, port::PromptStep::kPack, L"", false},
      {"not unpacked", ERROR_INSUFFICIENT_BUFFER, port::PromptStep::kUnpack, L"", true},
  };
  for (const Row& row : rows) {
    const size_t warnings = sim_.credentials.warnings().size();
    sim_.credentials.setEntry({.error = row.error, .failedStep = row.failedStep, .password = row.password});
    EXPECT_EQ(FALSE, GetUserPassword(1, parent_)) << row.what;
    EXPECT_EQ(warnings + (row.warns ? 1 : 0), sim_.credentials.warnings().size()) << row.what;
    if (row.warns) {
      EXPECT_EQ(parent_, sim_.credentials.warnings().back()) << row.what;
    }
  }
  EXPECT_EQ(1u, sim_.credentials.logons().size()) << "only the wrong password was tried";
  EXPECT_TRUE(calls_.empty());
  EXPECT_TRUE(sim_.modules.namesAsked().empty());
}

TEST_F(PasswordTest, BlankPasswordRefusedByPolicyCountsAsVerified) {
  sim_.credentials.setAccountPassword(L"", true);
  enter(L"");
  EXPECT_EQ(TRUE, GetUserPassword(5, nullptr));
  ASSERT_EQ(1u, calls_.size());
  EXPECT_EQ(0u, calls_[0].length);
  EXPECT_EQ(L"", calls_[0].password);

  // The same refusal for a non-empty entry is a wrong password.
  sim_.credentials.setEntry({.password = L"x"});
  EXPECT_EQ(FALSE, GetUserPassword(5, nullptr));
  EXPECT_EQ(std::vector<HWND>{nullptr}, sim_.credentials.warnings());
}

TEST_F(PasswordTest, UnlockComponentMissingOrRefusing) {
  enter(L"s3cret");
  gUnlockAnswer = 5;
  EXPECT_EQ(FALSE, GetUserPassword(1, parent_));
  EXPECT_EQ(1u, calls_.size());

  sim_.modules.remove(L"VskSdkDll.dll");
  EXPECT_EQ(FALSE, GetUserPassword(1, parent_));  // no library
  sim_.modules.define(L"VskSdkDll.dll", {{"SomethingElse", reinterpret_cast<port::ModuleEntry>(&recordUnlock)}});
  EXPECT_EQ(FALSE, GetUserPassword(1, parent_));  // no entry
  EXPECT_EQ(1u, calls_.size());
  EXPECT_TRUE(sim_.credentials.warnings().empty());
}

TEST_F(PasswordTest, NothingToAskOrNowhereToKeepIt) {
  sim_.credentials.setAccount(L"alice", L"OFFICE", ERROR_NOT_FOUND);
  EXPECT_EQ(FALSE, GetUserPassword(1, parent_));
  EXPECT_TRUE(sim_.credentials.prompts().empty());
  sim_.credentials.setAccount(L"alice", L"OFFICE");
  sim_.credentials.failAllocation(true);
  EXPECT_EQ(FALSE, GetUserPassword(1, parent_));
  EXPECT_TRUE(sim_.credentials.prompts().empty());
  sim_.credentials.failAllocation(false);
  // A failed package lookup still prompts, with package 0.
  sim_.credentials.setPackage(9, ERROR_NOT_SUPPORTED);
  enter(L"s3cret");
  EXPECT_EQ(TRUE, GetUserPassword(1, parent_));
  EXPECT_EQ(0u, sim_.credentials.prompts().back().authPackage);
}

TEST_F(PasswordTest, LengthNeverPassesTheBuffer) {
  sim_.credentials.setAccountPassword(std::wstring(199, L'p'));
  sim_.credentials.setEntry({.password = std::wstring(199, L'p'), .passwordChars = 5000});
  EXPECT_EQ(TRUE, GetUserPassword(1, parent_));
  ASSERT_EQ(1u, calls_.size());
  EXPECT_EQ(199u, calls_[0].length);
}

}  // namespace
}  // namespace utils::test
