// The user's interface language on Linux: the locale variables that gettext reads
// for messages, mapped to Windows language identifiers.
#pragma once

#include <functional>
#include <optional>
#include <string_view>

#include "utils/wintypes.h"

namespace utils::linuxport {

inline constexpr LANGID kEnglishUnitedStates = 1033;

// The Windows language identifier of one locale name
// (language[_territory][.codeset][@modifier]), or nothing for a name the table
// does not know. "C" and "POSIX" are English (United States).
std::optional<LANGID> languageOfLocale(std::string_view locale);

// The interface language: the first entry of LANGUAGE (a colon-separated list)
// that the table knows; else the first of LC_ALL, LC_MESSAGES and LANG that is
// set; English (United States) when that is unknown or nothing is set.
// getVariable reads one variable (null when unset).
LANGID uiLanguageFromEnvironment(const std::function<const char*(const char*)>& getVariable);

}  // namespace utils::linuxport
