// The language helpers on the Linux adapters: the locale table, the locale
// variables and the shell. (Language libraries loaded with dlopen from a registry
// store are tested end to end in ui_btutil_test.sh.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

#include "port/linux/clock.h"
#include "port/linux/debug_output.h"
#include "port/linux/linux_shell.h"
#include "port/linux/locale_language.h"
#include "port/module_names.h"
#include "port/platform.h"
#include "ui/shell_checks.h"
#include "utils/ui.h"

namespace {

using utils::linuxport::languageOfLocale;
using utils::linuxport::uiLanguageFromEnvironment;

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
