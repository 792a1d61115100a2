// The user-interface helpers on the Linux adapters: the locale table, the
// locale variables and the shell (language libraries loaded with dlopen from a
// registry store: ui_btutil_test.sh); GetUserPassword on the tests' pinentry
// stand-in (and once the real pinentry-tty on a pseudo-terminal), PAM through
// pam_wrapper and pam_matrix, and the tests' unlock component loaded with
// dlopen by its bare name.
#include <dlfcn.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/utf16.h"
#include "port/linux/clock.h"
#include "port/linux/debug_output.h"
#include "port/linux/linux_credentials.h"
#include "port/linux/linux_modules.h"
#include "port/linux/linux_shell.h"
#include "port/linux/locale_language.h"
#include "port/linux/pam_logon.h"
#include "port/linux/session_user.h"
#include "port/module_names.h"
#include "port/platform.h"
#include "registry_test_support.h"
#include "ui/shell_checks.h"
#include "ui_test_unlock_module.h"
#include "utils/ui.h"

namespace {

using utils::linuxport::languageOfLocale;
using utils::linuxport::LinuxCredentials;
using utils::linuxport::PinentryOptions;
using utils::linuxport::uiLanguageFromEnvironment;

// The Linux credentials, checking that each record comes back wiped.
class CheckedCredentials : public LinuxCredentials {
 public:
  using LinuxCredentials::LinuxCredentials;
  void releaseCredentials(utils::port::EnteredCredentials* record) override {
    const auto* bytes = reinterpret_cast<const unsigned char*>(record);
    wipedOnRelease = std::all_of(bytes, bytes + sizeof *record, [](unsigned char b) { return b == 0; });
    released = record;
    LinuxCredentials::releaseCredentials(record);
  }
  bool wipedOnRelease = false;
  const void* released = nullptr;
};

class PasswordLinuxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("PAM_WRAPPER") == nullptr) GTEST_SKIP() << "runs under pam_wrapper (see tests/CMakeLists.txt)";
    ASSERT_TRUE(folder_.ok());
    ASSERT_EQ(0u, utils::linuxport::sessionUserName(&user_));
    writePassdb(user_ + ":s3cret:utils-unlock\n");
    log_ = folder_.file("standin.log");
    setenv("STANDIN_LOG", log_.c_str(), 1);
    setenv("STANDIN_MODE", "ok", 1);
    // The test keeps the component loaded, so its record outlives the library's
    // load and release.
    unlock_ = dlopen("VskSdkDll.so", RTLD_NOW);
    ASSERT_NE(nullptr, unlock_) << dlerror();
    record_ = reinterpret_cast<UnlockModuleRecord* (*)()>(dlsym(unlock_, "utilsTestUnlockRecord"))();
    answer_ = reinterpret_cast<void (*)(unsigned)>(dlsym(unlock_, "utilsTestUnlockAnswer"));
    *record_ = UnlockModuleRecord{};
    answer_(0);
  }
  void TearDown() override {
    utils::port::installPlatform({});
    if (unlock_ != nullptr) dlclose(unlock_);
    // No pinentry is left behind, running or as a zombie.
    errno = 0;
    EXPECT_EQ(-1, waitpid(-1, nullptr, WNOHANG));
    EXPECT_EQ(ECHILD, errno);
  }
  void writePassdb(const std::string& lines) { ASSERT_TRUE(registry_test::writeFile(UTILS_TEST_PASSDB, lines)); }
  PinentryOptions options(int setupMs = 20000, int userMs = 20000) {
    PinentryOptions result;
    result.program = UTILS_PINENTRY_STANDIN;
    result.setupTimeoutMs = setupMs;
    result.userTimeoutMs = userMs;
    result.exitTimeoutMs = 2000;
    return result;
  }
  BOOL run(CheckedCredentials& credentials, ULONGLONG context = 0x1234) {
    utils::port::Platform record;
    record.debugOutput = &debugOutput_;
    record.clock = &clock_;
    record.credentials = &credentials;
    record.module = &modules_;
    utils::port::installPlatform(record);
    return GetUserPassword(context, nullptr);
  }
  // How often the stand-in received this line.
  int count(const std::string& line) {
    std::istringstream in(registry_test::readFile(log_));
    int found = 0;
    for (std::string got; std::getline(in, got);) found += got == line ? 1 : 0;
    return found;
  }

  registry_test::TempFolder folder_;
  std::string user_, log_;
  void* unlock_ = nullptr;
  UnlockModuleRecord* record_ = nullptr;
  void (*answer_)(unsigned) = nullptr;
  utils::linuxport::LinuxDebugOutput debugOutput_{"stderr"};
  utils::linuxport::LinuxClock clock_;
  utils::linuxport::LinuxModules modules_;
};

TEST(PinentryProgram, PrivilegedProcessesRunTheSystemOne) {
  struct Row {
    bool privileged;
    const char* configured;
    const char* program;
  };
  const Row rows[] = {
      {false, nullptr, "pinentry"},          {false, "", "pinentry"},
      {false, "/opt/p", "/opt/p"},           {true, nullptr, "/usr/bin/pinentry"},
      {true, "/tmp/p", "/usr/bin/pinentry"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.program, utils::linuxport::pinentryProgram(row.privileged, row.configured))
        << row.privileged << " " << (row.configured != nullptr ? row.configured : "(none)");
  }
}

// The whole prompt with the session user's PAM entry as each row gives it: an
// empty password that PAM accepts but whose account policy refuses still
// unlocks (length 0); a wrong password, or a refused account with a password,
// warns once.
TEST_F(PasswordLinuxTest, WholePromptWithEachPamEntry) {
  struct Row {
    const char* entry;  // the session user's passdb line after the name
    const char* typed;
    BOOL result;
    int warnings;
  };
  const Row rows[] = {
      {":s3cret:utils-unlock", "s3cret", TRUE, 0},
      {":s3cret:utils-unlock", "guess", FALSE, 1},
      {":s3cret:utils-unlock", "", FALSE, 1},
      {"::utils-unlock", "", TRUE, 0},
      {"::other-service", "", TRUE, 0},               // accepted, then refused by policy
      {":s3cret:other-service", "s3cret", FALSE, 1},  // right but refused: not blank
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.entry) + " typed '" + row.typed + "'");
    writePassdb(user_ + row.entry + "\n");
    setenv("STANDIN_PIN", row.typed, 1);
    ASSERT_TRUE(registry_test::writeFile(log_, "") && registry_test::writeFile(log_ + ".env", ""));
    *record_ = UnlockModuleRecord{};
    CheckedCredentials credentials(options());
    EXPECT_EQ(row.result, run(credentials, 0xFEEDFACECAFEULL));
    EXPECT_EQ(row.result ? 1 : 0, record_->calls);
    // The record was wiped before it went back.
    EXPECT_TRUE(credentials.wipedOnRelease);
    EXPECT_EQ(1, count("SETTITLE Bluetooth Proximity"));
    EXPECT_EQ(1, count("SETDESC Enter password for user account."));
    EXPECT_EQ(1, count("GETPIN"));
    EXPECT_EQ(row.warnings, count("MESSAGE"));
    EXPECT_EQ(row.warnings, count("SETTITLE Warning"));
    EXPECT_EQ(row.warnings, count("SETDESC %20%20Invalid  password !"));
    // The password travelled in no argument and no variable but the stand-in's own.
    const std::string typed = row.typed;
    std::string environment = registry_test::readFile(log_ + ".env");
    const std::string own = "STANDIN_PIN=" + typed;
    for (size_t at; (at = environment.find(own)) != std::string::npos;) environment.erase(at, own.size());
    EXPECT_TRUE(typed.empty() || environment.find(typed) == std::string::npos);
    std::istringstream all(registry_test::readFile(log_));
    for (std::string line; std::getline(all, line);) {
      if (line.rfind("ARGV", 0) == 0) {
        EXPECT_TRUE(typed.empty() || line.find(typed) == std::string::npos) << line;
      }
    }
    if (!row.result) continue;
    EXPECT_EQ(0xFEEDFACECAFEULL, record_->context);
    EXPECT_EQ(utils::utf8ToWide(user_), record_->userName);
    EXPECT_STREQ(L"", record_->domain);
    EXPECT_EQ(utils::utf8ToWide(typed), record_->password);
    EXPECT_EQ(typed.size(), record_->length);
    EXPECT_EQ(
        static_cast<const void*>(record_->passwordAddress),
        reinterpret_cast<const char*>(credentials.released) + offsetof(utils::port::EnteredCredentials, password));
  }
}

TEST_F(PasswordLinuxTest, PinentryFailuresAreFailedPrompts) {
  struct Row {
    const char* mode;
    int setupMs, userMs;
  };
  // A silent program and one that never answers GETPIN are bounded by short
  // waits here; the bounds are what is tested, not the machine's speed.
  for (const Row& row :
       {Row{"cancel", 20000, 20000}, Row{"die", 20000, 20000}, Row{"silent", 300, 20000}, Row{"hang", 20000, 500}}) {
    SCOPED_TRACE(row.mode);
    setenv("STANDIN_MODE", row.mode, 1);
    CheckedCredentials credentials(options(row.setupMs, row.userMs));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FALSE, run(credentials));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    EXPECT_EQ(0, record_->calls);
    EXPECT_EQ(0, count("MESSAGE"));
  }
  setenv("STANDIN_MODE", "ok", 1);
  PinentryOptions missing = options();
  missing.program = folder_.file("no-such-pinentry");
  CheckedCredentials credentials(missing);
  EXPECT_EQ(FALSE, run(credentials));
}

TEST_F(PasswordLinuxTest, EscapesAndEncodingOfThePin) {
  struct Row {
    std::string wire;
    const wchar_t* password;  // null: not readable, the warning is shown
  };
  const std::wstring longest(199, L'x');  // 199 characters fit, 200 do not
  const Row rows[] = {
      {"a%25b%0Ac", L"a%b\nc"},
      {"p\xC3\xA4ss", L"p\u00E4ss"},
      {"", L""},
      {"bad%G1", nullptr},
      {"cut%2", nullptr},
      {"\xC3", nullptr},
      {"nul%00x", nullptr},
      {std::string(199, 'x'), longest.c_str()},
      {std::string(200, 'x'), nullptr},
  };
  LinuxCredentials credentials(options());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.wire);
    setenv("STANDIN_PIN", row.wire.c_str(), 1);
    utils::port::EnteredCredentials entered;
    utils::port::PromptStep step = utils::port::PromptStep::kNone;
    const utils::port::PasswordPrompt prompt{nullptr, L"T", L"D", L"user", 0};
    const DWORD error = credentials.promptForPassword(prompt, &entered, &step);
    if (row.password != nullptr) {
      EXPECT_EQ(0u, error);
      EXPECT_STREQ(row.password, entered.password);
      EXPECT_EQ(std::wcslen(row.password) + 1, entered.passwordChars);
      EXPECT_STREQ(L"user", entered.userName);
    } else {
      EXPECT_NE(0u, error);
      EXPECT_EQ(utils::port::PromptStep::kUnpack, step);
      EXPECT_STREQ(L"", entered.password);
    }
  }
  // Texts with the protocol's special characters reach the program escaped.
  const utils::port::PasswordPrompt odd{nullptr, L"100% sure", L"line\nbreak", L"user", 0};
  utils::port::EnteredCredentials entered;
  utils::port::PromptStep step = utils::port::PromptStep::kNone;
  credentials.promptForPassword(odd, &entered, &step);
  EXPECT_EQ(1, count("SETTITLE 100%25 sure"));
  EXPECT_EQ(1, count("SETDESC line%0Abreak"));
}

// PAM's answers beyond the whole prompt's table. pam_matrix's account check
// refuses an account listed for another service: the password is right but the
// account may not use this one.
TEST_F(PasswordLinuxTest, PamRightWrongAndEmpty) {
  writePassdb(user_ + ":s3cret:utils-unlock\nnopass::utils-unlock\nother:pw:other-service\n");
  using utils::linuxport::pamLogon;
  struct Row {
    const char* user;
    const char* password;
    DWORD expected;
  };
  const Row rows[] = {
      {nullptr, "S3cret", ERROR_LOGON_FAILURE},       {nullptr, "s3cret\n", ERROR_LOGON_FAILURE},
      {"nobody-here", "s3cret", ERROR_LOGON_FAILURE}, {"nopass", "x", ERROR_LOGON_FAILURE},
      {"other", "pw", ERROR_ACCOUNT_RESTRICTION},     {"other", "", ERROR_LOGON_FAILURE},
  };
  for (const Row& row : rows) {
    const char* user = row.user != nullptr ? row.user : user_.c_str();
    EXPECT_EQ(row.expected, pamLogon(user, row.password)) << user << " / '" << row.password << "'";
  }
}

TEST_F(PasswordLinuxTest, RealPinentryTtyOnAPseudoTerminal) {
  if (access("/usr/bin/pinentry-tty", X_OK) != 0) GTEST_SKIP() << "pinentry-tty is not installed";
  int master = -1;
  int slave = -1;
  char name[256] = {};
  ASSERT_EQ(0, openpty(&master, &slave, name, nullptr, nullptr));
  const std::string wrapper = folder_.file("pinentry-on-pty");
  ASSERT_TRUE(registry_test::writeFile(
      wrapper, "#!/bin/sh\nexec /usr/bin/pinentry-tty --ttyname " + std::string(name) + " \"$@\"\n"));
  ASSERT_EQ(0, chmod(wrapper.c_str(), 0700));
  // The user: waits for the prompt on the terminal and types the password.
  std::thread user([master] {
    std::string screen;
    char chunk[256];
    while (screen.find("PIN: ") == std::string::npos && screen.size() < 65536) {
      pollfd ready{master, POLLIN, 0};
      if (poll(&ready, 1, 30000) <= 0) return;
      const ssize_t n = read(master, chunk, sizeof chunk);
      if (n <= 0) return;
      screen.append(chunk, static_cast<size_t>(n));
    }
    const char typed[] = "s3cret\n";
    (void)!write(master, typed, sizeof typed - 1);
  });
  PinentryOptions real = options(20000, 30000);
  real.program = wrapper;
  CheckedCredentials credentials(real);
  EXPECT_EQ(TRUE, run(credentials));
  EXPECT_STREQ(L"s3cret", record_->password);
  // With the terminal's other end closed, a user still waiting reads an error
  // and ends; the master is closed only once it has.
  close(slave);
  user.join();
  close(master);
}

// Locales of each shape give their language (which library a language has is
// unit_ui's): a territory, a modifier, a shared library, English, other
// territories, the C locales, a language alone (its usual identifier), and
// what the table does not know.
TEST(LocaleTable, LocalesGiveTheirLanguage) {
  const std::pair<LANGID, const char*> rows[] = {
      {1025, "ar_SA.UTF-8"}, {1028, "zh_TW.UTF-8"}, {3076, "zh_HK.UTF-8"}, {1034, "es_ES.UTF-8@traditional"},
      {3082, "es_ES.UTF-8"}, {1036, "fr_FR.UTF-8"}, {1046, "pt_BR.UTF-8"}, {2070, "pt_PT.UTF-8"},
      {1044, "nb_NO.UTF-8"}, {2052, "zh_CN.UTF-8"}, {1033, "en_US.UTF-8"}, {2057, "en_GB"},
      {3073, "ar_EG.UTF-8"}, {2058, "es_MX"},       {1033, "C"},           {1033, "POSIX"},
      {1033, "C.UTF-8"},     {3082, "es"},          {2052, "zh"},          {1036, "fr_BE.ISO-8859-1"},
      {2070, "pt"},          {1045, "pl_PL@euro"},
  };
  for (const auto& [id, locale] : rows) EXPECT_EQ(id, languageOfLocale(locale).value_or(0)) << locale;
  for (const char* unknown : {"xx_YY", "", "_FR", ".UTF-8", "@euro", "frr_DE"}) {
    EXPECT_FALSE(languageOfLocale(unknown).has_value()) << unknown;
  }
}

TEST(LocaleTable, VariablesInGettextOrder) {
  struct Row {
    std::map<std::string, std::string> variables;
    LANGID id;
  };
  const Row rows[] = {
      {{}, 1033},
      {{{"LANG", "de_DE.UTF-8"}}, 1031},
      {{{"LANG", "de_DE.UTF-8"}, {"LC_MESSAGES", "fr_FR.UTF-8"}}, 1036},
      {{{"LANG", "de_DE"}, {"LC_MESSAGES", "fr_FR"}, {"LC_ALL", "it_IT"}}, 1040},
      {{{"LANG", "de_DE"}, {"LC_ALL", "it_IT"}, {"LANGUAGE", "pt_BR:pt"}}, 1046},
      {{{"LANG", "de_DE"}, {"LANGUAGE", "xx:ja"}}, 1041},  // the first known entry
      {{{"LANG", "de_DE"}, {"LANGUAGE", "xx::yy"}}, 1031},
      {{{"LANG", "de_DE"}, {"LC_ALL", ""}}, 1031},    // empty is unset
      {{{"LANG", "de_DE"}, {"LC_ALL", "xx"}}, 1033},  // the set one decides, unknown or not
      {{{"LANG", "C"}}, 1033},
  };
  for (const Row& row : rows) {
    const LANGID id = uiLanguageFromEnvironment([&row](const char* name) -> const char* {
      const auto found = row.variables.find(name);
      return found == row.variables.end() ? nullptr : found->second.c_str();
    });
    EXPECT_EQ(row.id, id);
  }
}

TEST(ModuleNames, DllBecomesSharedObject) {
  EXPECT_EQ(L"VskSdkDll.so", utils::port::sharedObjectName(L"VskSdkDll.dll"));
  EXPECT_EQ(L"/opt/x/langs/VskStackFRA.so", utils::port::sharedObjectName(L"/opt/x/langs/VskStackFRA.DLL"));
  EXPECT_EQ(L"libfoo.so.1", utils::port::sharedObjectName(L"libfoo.so.1"));
  EXPECT_EQ(L".so", utils::port::sharedObjectName(L".dll"));
  EXPECT_EQ(L"dll", utils::port::sharedObjectName(L"dll"));
}

// No start screen on Linux; the reading order follows the locale variables.
TEST(LinuxShell, NoStartScreenOnLinux) {
  utils::linuxport::LinuxDebugOutput debugOutput{"stderr"};
  utils::linuxport::LinuxClock clock;
  utils::linuxport::LinuxShell shell;
  utils::port::Platform record;
  record.debugOutput = &debugOutput;
  record.clock = &clock;
  record.shell = &shell;
  utils::port::installPlatform(record);
  for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"}) unsetenv(name);
  setenv("LANG", "fr_FR.UTF-8", 1);
  utils::ui::resetWindowsVersionCache();
  EXPECT_EQ(0u, M2D_IsWindows8());
  EXPECT_EQ(nullptr, M2D_Initialize());
  EXPECT_EQ(0u, GetAdditionalMessageBoxStyle());
  setenv("LANG", "he_IL.UTF-8", 1);
  EXPECT_EQ(0x100000u, GetAdditionalMessageBoxStyle());
  utils::ui::resetWindowsVersionCache();
  utils::port::installPlatform({});
}

}  // namespace
