// btutil reg delete KEY [/v NAME | /ve | /va] /f
#include "command_args.h"
#include "common/utf16.h"
#include "reg_commands.h"
#include "reg_value.h"
#include "registry_reader.h"
#include "win_error.h"

namespace utils::btutil {
namespace {

constexpr std::string_view kTopic = "reg delete";
constexpr OptionSpec kSpecs[] = {{"v", true}, {"ve", false}, {"va", false}, {"f", false}};

int deleteValues(port::RegistryPort& registry, const KeyPath& path, const std::vector<std::wstring>* only,
                 Console& console) {
  port::ScopedKey key(registry);
  DWORD code = registry.openKey(path.root, path.subKey.c_str(), KEY_QUERY_VALUE | KEY_SET_VALUE, key.out());
  if (code != ERROR_SUCCESS) return failure(console, "Cannot open " + shownPath(path) + ": " + errorText(code));
  std::vector<std::wstring> names;
  if (only != nullptr) {
    names = *only;
  } else if (code = listValueNames(registry, key.get(), &names); code != ERROR_SUCCESS) {
    return failure(console, "Cannot read " + shownPath(path) + ": " + errorText(code));
  }
  for (const auto& name : names) {
    code = registry.deleteValue(key.get(), name.c_str());
    if (code == ERROR_FILE_NOT_FOUND && only == nullptr) continue;  // gone meanwhile: that is what /va wants
    if (code == ERROR_FILE_NOT_FOUND) {
      return failure(console, "The value " + displayName(name) + " was not found under " + shownPath(path) + ".");
    }
    if (code != ERROR_SUCCESS) {
      return failure(console,
                     "Cannot delete " + displayName(name) + " under " + shownPath(path) + ": " + errorText(code));
    }
  }
  return kExitOk;
}

}  // namespace

int regDelete(std::span<const std::string> args, port::RegistryPort& registry, Console& console) {
  ParsedArgs parsed;
  if (int code = prepareArgs(args, kSpecs, 1, kTopic, console, &parsed); code >= 0) return code;
  KeyPath path;
  if (!keyArgument(parsed.positional[0], kTopic, console, &path)) return kExitUsage;
  const int chosen = int{parsed.has("v")} + int{parsed.has("ve")} + int{parsed.has("va")};
  if (chosen > 1) return usageError(console, "Use only one of /v NAME, /ve and /va.", kTopic);
  // btutil never asks for confirmation, so deleting needs it on the command line.
  if (!parsed.has("f")) return usageError(console, "Nothing was deleted: add /f to confirm the deletion.", kTopic);

  int result = kExitOk;
  if (parsed.has("va")) {
    result = deleteValues(registry, path, nullptr, console);
  } else if (chosen == 1) {
    const std::vector<std::wstring> names{utf8ToWide(parsed.value("v"))};
    result = deleteValues(registry, path, &names, console);
  } else {
    if (path.subKey.empty()) return usageError(console, "A root key cannot be deleted.", kTopic);
    const DWORD code = registry.deleteTree(path.root, path.subKey.c_str());
    if (code != ERROR_SUCCESS) result = failure(console, "Cannot delete " + shownPath(path) + ": " + errorText(code));
  }
  if (result == kExitOk) reportSuccess(console);
  return result;
}

}  // namespace utils::btutil
