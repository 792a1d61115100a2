// Finding the language resource library: the path the user's interface language
// (or the "Lang" settings) leads to.
#pragma once

#include "utils/wintypes.h"

namespace utils::ui {

// The separator between a folder and the names in it.
#if defined(_WIN32)
inline constexpr wchar_t kPathSeparator = L'\\';
#else
inline constexpr wchar_t kPathSeparator = L'/';
#endif

// Paths are bounded as on Windows: 260 characters with the terminator.
inline constexpr DWORD kMaxPathChars = 260;

// The language library under the installation folder for the user's interface
// language: 1 with the terminated path in destination, 0 when there is none (no
// folder, no library for the language, or a path that would not fit whole in
// kMaxPathChars or in size characters; a cut path is never handed out).
BOOL getLangLibraryPath(wchar_t* destination, DWORD size);

// The path LoadVskStackLangLibrary loads, empty when it loads nothing.
bool langLibraryPathToLoad(wchar_t (&path)[kMaxPathChars]);

}  // namespace utils::ui
