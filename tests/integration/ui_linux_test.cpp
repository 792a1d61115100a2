// The language helpers on the Linux adapters: the locale table, the locale
// variables, and a language library loaded with dlopen from a registry store.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "common/utf16.h"
#include "port/linux/clock.h"
#include "port/linux/debug_output.h"
#include "port/linux/linux_modules.h"
#include "port/linux/linux_shell.h"
#include "port/linux/locale_language.h"
#include "port/linux/registry_store.h"
#include "port/module_names.h"
#include "port/platform.h"
#include "registry_test_support.h"
#include "ui/lang_table.h"
#include "ui/shell_checks.h"
#include "utils/ui.h"

namespace {

using utils::linuxport::languageOfLocale;
using utils::linuxport::uiLanguageFromEnvironment;

// Every language library, with a locale that selects it.
TEST(LocaleTable, EveryLibraryLanguageHasALocale) {
  struct Row {
    LANGID id;
    const wchar_t* file;
    const char* locale;
  };
  const Row rows[] = {
      {1025, L"VskStackARA.dll", "ar_SA.UTF-8"},
      {1026, L"VskStackBG.dll", "bg_BG.UTF-8"},
      {1028, L"VskStackCHT.dll", "zh_TW.UTF-8"},
      {1029, L"VskStackCZE.dll", "cs_CZ.UTF-8"},
      {1030, L"VskStackDAN.dll", "da_DK.UTF-8"},
      {1031, L"VskStackGER.dll", "de_DE.UTF-8"},
      {1032, L"VskStackGRE.dll", "el_GR.UTF-8"},
      {1034, L"VskStackESP.dll", "es_ES.UTF-8@traditional"},
      {1035, L"VskStackFIN.dll", "fi_FI.UTF-8"},
      {1036, L"VskStackFRA.dll", "fr_FR.UTF-8"},
      {1037, L"VskStackHEB.dll", "he_IL.UTF-8"},
      {1038, L"VskStackHUN.dll", "hu_HU.UTF-8"},
      {1040, L"VskStackITA.dll", "it_IT.UTF-8"},
      {1041, L"VskStackJPN.dll", "ja_JP.UTF-8"},
      {1042, L"VskStackKOR.dll", "ko_KR.UTF-8"},
      {1043, L"VskStackDUT.dll", "nl_NL.UTF-8"},
      {1044, L"VskStackNOR.dll", "nb_NO.UTF-8"},
      {1045, L"VskStackPOL.dll", "pl_PL.UTF-8"},
      {1046, L"VskStackPORB.dll", "pt_BR.UTF-8"},
      {1048, L"VskStackROM.dll", "ro_RO.UTF-8"},
      {1049, L"VskStackRUS.dll", "ru_RU.UTF-8"},
      {1050, L"VskStackCRO.dll", "hr_HR.UTF-8"},
      {1051, L"VskStackSK.dll", "sk_SK.UTF-8"},
      {1053, L"VskStackSWE.dll", "sv_SE.UTF-8"},
      {1055, L"VskStackTUR.dll", "tr_TR.UTF-8"},
      {1060, L"VskStackSL.dll", "sl_SI.UTF-8"},
      {1061, L"VskStackET.dll", "et_EE.UTF-8"},
      {1062, L"VskStackLV.dll", "lv_LV.UTF-8"},
      {1063, L"VskStackLT.dll", "lt_LT.UTF-8"},
      {2052, L"VskStackCHS.dll", "zh_CN.UTF-8"},
      {2070, L"VskStackPORE.dll", "pt_PT.UTF-8"},
      {3076, L"VskStackCHT.dll", "zh_HK.UTF-8"},
      {3082, L"VskStackESP.dll", "es_ES.UTF-8"},
      // Without a library: English, other territories, and what the table does not know.
      {1033, nullptr, "en_US.UTF-8"},
      {2057, nullptr, "en_GB"},
      {3073, nullptr, "ar_EG.UTF-8"},
      {2058, nullptr, "es_MX"},
      {1033, nullptr, "C"},
      {1033, nullptr, "POSIX"},
      {1033, nullptr, "C.UTF-8"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.locale);
    EXPECT_EQ(row.id, languageOfLocale(row.locale).value_or(0));
    const wchar_t* file = utils::ui::languageLibraryFileName(row.id);
    if (row.file == nullptr) {
      EXPECT_EQ(nullptr, file);
    } else {
      EXPECT_STREQ(row.file, file);
    }
  }
  // Language alone takes the language's usual identifier.
  EXPECT_EQ(0x0C0A, languageOfLocale("es").value_or(0));
  EXPECT_EQ(0x0804, languageOfLocale("zh").value_or(0));
  EXPECT_EQ(0x0816, languageOfLocale("pt").value_or(0));
  EXPECT_EQ(0x040C, languageOfLocale("fr_BE.ISO-8859-1").value_or(0));
  EXPECT_EQ(0x0415, languageOfLocale("pl_PL@euro").value_or(0));
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

// The Linux adapters with a registry store in a temporary folder.
class LinuxLangTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.ok());
    registry_ = std::make_unique<utils::linuxport::RegistryStore>(folder_.file("machine.db"), folder_.file("user.db"));
    utils::port::Platform record;
    record.registry = registry_.get();
    record.debugOutput = &debugOutput_;
    record.clock = &clock_;
    record.shell = &shell_;
    record.module = &modules_;
    utils::port::installPlatform(record);
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"}) unsetenv(name);
    setenv("LANG", "fr_FR.UTF-8", 1);
  }
  void TearDown() override { utils::port::installPlatform({}); }

  void putText(const wchar_t* path, const wchar_t* name, const std::string& text) {
    std::u16string units = utils::wideToUtf16(utils::utf8ToWide(text));
    units.push_back(u'\0');
    const std::string bytes = utils::utf16ToLeBytes(units);
    utils::port::ScopedKey key(*registry_);
    ASSERT_EQ(0u, registry_->createKey(HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS, key.out(), nullptr));
    ASSERT_EQ(0u, registry_->setValue(key.get(), name, REG_SZ, reinterpret_cast<const BYTE*>(bytes.data()),
                                      static_cast<DWORD>(bytes.size())));
  }
  void putFlag(DWORD value) {
    utils::port::ScopedKey key(*registry_);
    ASSERT_EQ(0u, registry_->createKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vorlane\\Pelmora\\Lang", KEY_ALL_ACCESS,
                                       key.out(), nullptr));
    ASSERT_EQ(0u, registry_test::setDword(*registry_, key.get(), L"DisableLangFromLocal", value));
  }
  // Installs the test library as the named file under the folder's langs.
  std::string installLibrary(const std::string& name) {
    std::filesystem::create_directories(folder_.file("langs"));
    const std::string path = folder_.file("langs/" + name);
    std::filesystem::copy_file(UTILS_TEST_LANG_LIBRARY, path, std::filesystem::copy_options::overwrite_existing);
    return path;
  }
  static int marker(HMODULE module) {
    auto* entry = reinterpret_cast<int (*)()>(dlsym(module, "utilsTestLanguage"));
    return entry == nullptr ? -1 : entry();
  }

  registry_test::TempFolder folder_;
  std::unique_ptr<utils::linuxport::RegistryStore> registry_;
  utils::linuxport::LinuxDebugOutput debugOutput_{"stderr"};
  utils::linuxport::LinuxClock clock_;
  utils::linuxport::LinuxShell shell_;
  utils::linuxport::LinuxModules modules_;
};

TEST_F(LinuxLangTest, LoadsTheLanguagesSharedObject) {
  installLibrary("VskStackFRA.so");
  putText(L"SOFTWARE\\Vorlane\\Pelmora", L"InstallDir", folder_.path());
  putFlag(0);
  HMODULE module = LoadVskStackLangLibrary();
  ASSERT_NE(nullptr, module);
  EXPECT_EQ(1036, marker(module));
  EXPECT_EQ(TRUE, FreeLibrary(module));

  // English: nothing; a library file that is not one: nothing.
  setenv("LANG", "en_US.UTF-8", 1);
  EXPECT_EQ(nullptr, LoadVskStackLangLibrary());
  setenv("LANGUAGE", "de", 1);
  registry_test::writeFile(folder_.file("langs/VskStackGER.so"), "not a library");
  EXPECT_EQ(nullptr, LoadVskStackLangLibrary());
  unsetenv("LANGUAGE");
}

TEST_F(LinuxLangTest, SettingPathIsLoadedAsItsSharedObject) {
  const std::string path = installLibrary("Custom.so");
  putFlag(1);
  putText(L"SOFTWARE\\Vorlane\\Pelmora\\Lang", L"VskStack", folder_.file("langs/Custom.dll"));
  HMODULE module = LoadVskStackLangLibrary();
  ASSERT_NE(nullptr, module);
  EXPECT_EQ(1036, marker(module));
  FreeLibrary(module);
  // A FIFO where the library should be is not a library.
  std::filesystem::remove(path);
  ASSERT_EQ(0, mkfifo(path.c_str(), 0600));
  EXPECT_EQ(nullptr, LoadVskStackLangLibrary());
}

TEST_F(LinuxLangTest, NoStartScreenOnLinux) {
  utils::ui::resetWindowsVersionCache();
  EXPECT_EQ(0u, M2D_IsWindows8());
  EXPECT_EQ(nullptr, M2D_Initialize());
  EXPECT_EQ(0u, GetAdditionalMessageBoxStyle());
  setenv("LANG", "he_IL.UTF-8", 1);
  EXPECT_EQ(0x100000u, GetAdditionalMessageBoxStyle());
  utils::ui::resetWindowsVersionCache();
}

}  // namespace
