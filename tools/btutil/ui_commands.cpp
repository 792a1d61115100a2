// btutil unlock [--context N]: the password prompt and the unlock component, as
// GetUserPassword runs them. btutil lang [--json]: the user interface language,
// the language library that would be loaded, and whether it loads.
#include "ui_commands.h"
#include "command_args.h"
#include "common/utf16.h"
#include "json_output.h"
#include "numbers.h"
#include "port/module_names.h"
#include "port/platform.h"
#include "ui/lang_library.h"
#include "ui/lang_table.h"
#include "utils/ui.h"

namespace utils::btutil {

int runUnlock(std::span<const std::string> args, Console& console) {
  static constexpr OptionSpec kSpecs[] = {{"context", true}};
  ParsedArgs parsed;
  if (int code = prepareArgs(args, kSpecs, 0, "unlock", console, &parsed); code >= 0) return code;
  ULONGLONG context = 0;
  if (parsed.has("context")) {
    const auto value = parseUnsigned(parsed.value("context"), UINT64_MAX);
    if (!value) {
      return usageError(console, "\"" + parsed.value("context") + "\" is not a number (decimal or 0x...).", "unlock");
    }
    context = *value;
  }
  if (port::platform().credentials == nullptr || port::platform().module == nullptr) {
    return failure(console, "This build has no password prompt.");
  }
  if (GetUserPassword(context, nullptr)) {
    console.out << "Unlocked: the password was verified and the unlock component accepted it.\n";
    return kExitOk;
  }
  console.out << "Not unlocked: the prompt was cancelled or could not be shown, the password was wrong,\n"
                 "or the unlock component is missing or refused it.\n";
  return kExitNo;
}

int runLang(std::span<const std::string> args, Console& console) {
  static constexpr OptionSpec kSpecs[] = {{"json", false}};
  ParsedArgs parsed;
  if (int code = prepareArgs(args, kSpecs, 0, "lang", console, &parsed); code >= 0) return code;
  if (port::platform().shell == nullptr || port::platform().module == nullptr) {
    return failure(console, "This build has no language support.");
  }
  const LANGID language = port::platform().shell->userUiLanguage();
  const wchar_t* fileName = ui::languageLibraryFileName(language);
  const bool rightToLeft = GetAdditionalMessageBoxStyle() != 0;
  wchar_t path[ui::kMaxPathChars];
  const bool wouldLoad = ui::langLibraryPathToLoad(path);
  const std::string shownPath = wouldLoad ? wideToUtf8(port::sharedObjectName(path)) : std::string();
  bool loads = false;
  if (wouldLoad) {
    if (HMODULE module = LoadVskStackLangLibrary(); module != nullptr) {
      loads = true;
      port::platform().module->release(module);
    }
  }
  if (parsed.has("json")) {
    printJson(console, Json{{"language", language},
                            {"library", fileName != nullptr ? Json(wideToUtf8(fileName)) : Json(nullptr)},
                            {"rightToLeft", rightToLeft},
                            {"path", wouldLoad ? Json(shownPath) : Json(nullptr)},
                            {"loads", loads}});
    return loads ? kExitOk : kExitNo;
  }
  console.out << "User interface language: " << language << " (0x" << std::hex << language << std::dec << ")\n"
              << "Language library: " << (fileName != nullptr ? wideToUtf8(fileName) : "none for this language") << '\n'
              << "Message boxes: " << (rightToLeft ? "right to left" : "left to right") << '\n';
  if (!wouldLoad) {
    console.out << "Would load: nothing (no Lang key, no InstallDir, no library for the language, or a path\n"
                   "longer than 259 characters)\n";
    return kExitNo;
  }
  console.out << "Would load: " << shownPath << '\n' << "Loads: " << (loads ? "yes" : "no") << '\n';
  return loads ? kExitOk : kExitNo;
}

}  // namespace utils::btutil
