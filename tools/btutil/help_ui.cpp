// The help texts of btutil unlock and btutil lang.
#include "help_topics.h"

namespace utils::btutil {
namespace {

constexpr std::string_view kUnlock = R"(Usage: btutil unlock [--context N]

Runs the password prompt as GetUserPassword does: asks for the password of the
session's account, checks it and hands the verified credentials with context N
(decimal or 0x..., default 0) to the unlock component (LE_EnableUnlockFeature).
A wrong password shows the "Warning" message once. Not unlocked means: the
prompt was cancelled or could not be shown, the password was wrong, or the
component is missing or refused the credentials.

On Linux the prompt and the warning are shown by pinentry (the program named by
UTILS_PINENTRY, else pinentry; on a terminal, on that terminal), the password is
checked by PAM (service utils-unlock) and the component is VskSdkDll.so, found
by the dynamic loader's search order (LD_LIBRARY_PATH first).

Example:
  btutil unlock --context 0x1234
)";

constexpr std::string_view kLang = R"(Usage: btutil lang [--json]

Prints the user interface language as a Windows language identifier (on Linux
from LANGUAGE, LC_ALL, LC_MESSAGES and LANG), its language library, the reading
order of message boxes, the library path that LoadVskStackLangLibrary would load
(from the registry's InstallDir and Lang settings under
HKLM\SOFTWARE\Vorlane\Pelmora) and whether it loads. With --json as one JSON
document: {"language" (a number), "library" (null when the language has none),
"rightToLeft", "path" (null when nothing would be loaded), "loads"}.

No library loads when the language has none, the Lang key or InstallDir is
missing, the path would be longer than 259 characters (it is never cut), or the
file is not a loadable library.

Example:
  LANG=fr_FR.UTF-8 btutil lang
)";

constexpr HelpTopic kUnlockTopics[] = {
    {"unlock", kUnlock, "unlocked", "not unlocked"},
};
constexpr HelpTopic kLangTopics[] = {
    {"lang", kLang, "the language library loads", "no language library loads"},
};

}  // namespace

std::span<const HelpTopic> unlockHelp() { return kUnlockTopics; }
std::span<const HelpTopic> langHelp() { return kLangTopics; }

}  // namespace utils::btutil
