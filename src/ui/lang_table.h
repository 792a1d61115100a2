// The language resource libraries by user interface language.
#pragma once

#include "utils/wintypes.h"

namespace utils::ui {

// The language library's file name for a Windows language identifier, or null
// when the language has none (English among them).
const wchar_t* languageLibraryFileName(LANGID language);

}  // namespace utils::ui
