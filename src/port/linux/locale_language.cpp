#include "port/linux/locale_language.h"

#include <array>
#include <string>

namespace utils::linuxport {
namespace {

struct LocaleRow {
  std::string_view language;   // ISO 639 code as glibc's locales spell it
  std::string_view territory;  // empty: the language's default
  std::string_view modifier;   // empty: any
  LANGID id;
};

// Languages with their default identifier, then the territories and modifiers
// whose identifier differs from it.
constexpr std::array<LocaleRow, 46> kLocaleRows{{
    {"ar", "", "", 0x0401},   {"ar", "EG", "", 0x0C01}, {"bg", "", "", 0x0402},
    {"zh", "", "", 0x0804},   {"zh", "CN", "", 0x0804}, {"zh", "TW", "", 0x0404},
    {"zh", "HK", "", 0x0C04}, {"zh", "SG", "", 0x1004}, {"zh", "MO", "", 0x1404},
    {"cs", "", "", 0x0405},   {"da", "", "", 0x0406},   {"de", "", "", 0x0407},
    {"el", "", "", 0x0408},   {"en", "", "", 0x0409},   {"en", "GB", "", 0x0809},
    {"es", "", "", 0x0C0A},   {"es", "ES", "", 0x0C0A}, {"es", "ES", "traditional", 0x040A},
    {"es", "MX", "", 0x080A}, {"fi", "", "", 0x040B},   {"fr", "", "", 0x040C},
    {"fr", "CA", "", 0x0C0C}, {"he", "", "", 0x040D},   {"iw", "", "", 0x040D},
    {"hu", "", "", 0x040E},   {"it", "", "", 0x0410},   {"ja", "", "", 0x0411},
    {"ko", "", "", 0x0412},   {"nl", "", "", 0x0413},   {"nb", "", "", 0x0414},
    {"no", "", "", 0x0414},   {"nn", "", "", 0x0814},   {"pl", "", "", 0x0415},
    {"pt", "", "", 0x0816},   {"pt", "PT", "", 0x0816}, {"pt", "BR", "", 0x0416},
    {"ro", "", "", 0x0418},   {"ru", "", "", 0x0419},   {"hr", "", "", 0x041A},
    {"sk", "", "", 0x041B},   {"sv", "", "", 0x041D},   {"tr", "", "", 0x041F},
    {"sl", "", "", 0x0424},   {"et", "", "", 0x0425},   {"lv", "", "", 0x0426},
    {"lt", "", "", 0x0427},
}};

struct LocaleParts {
  std::string_view language;
  std::string_view territory;
  std::string_view modifier;
};

LocaleParts split(std::string_view locale) {
  LocaleParts parts;
  if (const size_t at = locale.find('@'); at != std::string_view::npos) {
    parts.modifier = locale.substr(at + 1);
    locale = locale.substr(0, at);
  }
  if (const size_t dot = locale.find('.'); dot != std::string_view::npos) locale = locale.substr(0, dot);
  if (const size_t bar = locale.find('_'); bar != std::string_view::npos) {
    parts.territory = locale.substr(bar + 1);
    locale = locale.substr(0, bar);
  }
  parts.language = locale;
  return parts;
}

const LocaleRow* findRow(std::string_view language, std::string_view territory, std::string_view modifier) {
  for (const LocaleRow& row : kLocaleRows) {
    if (row.language == language && row.territory == territory && row.modifier == modifier) return &row;
  }
  return nullptr;
}

}  // namespace

std::optional<LANGID> languageOfLocale(std::string_view locale) {
  if (locale == "C" || locale == "POSIX" || locale.starts_with("C.")) return kEnglishUnitedStates;
  const LocaleParts parts = split(locale);
  if (parts.language.empty()) return std::nullopt;
  // The most specific row first: territory with modifier, territory, language.
  const LocaleRow* row = findRow(parts.language, parts.territory, parts.modifier);
  if (row == nullptr && !parts.modifier.empty()) row = findRow(parts.language, parts.territory, "");
  if (row == nullptr) row = findRow(parts.language, "", "");
  if (row == nullptr) return std::nullopt;
  return row->id;
}

LANGID uiLanguageFromEnvironment(const std::function<const char*(const char*)>& getVariable) {
  if (const char* list = getVariable("LANGUAGE"); list != nullptr) {
    std::string_view rest(list);
    while (!rest.empty()) {
      const size_t colon = rest.find(':');
      const std::string_view entry = rest.substr(0, colon);
      if (!entry.empty()) {
        if (const auto id = languageOfLocale(entry)) return *id;
      }
      if (colon == std::string_view::npos) break;
      rest = rest.substr(colon + 1);
    }
  }
  // The messages locale as POSIX resolves it: the first of these that is set
  // decides, known or not.
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = getVariable(name);
    if (value == nullptr || value[0] == '\0') continue;
    return languageOfLocale(value).value_or(kEnglishUnitedStates);
  }
  return kEnglishUnitedStates;
}

}  // namespace utils::linuxport
