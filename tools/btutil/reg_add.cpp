// btutil reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEP] [/d DATA] [/f]
#include "command_args.h"
#include "common/utf16.h"
#include "reg_commands.h"
#include "reg_value.h"
#include "win_error.h"

namespace utils::btutil {
namespace {

constexpr std::string_view kTopic = "reg add";
constexpr OptionSpec kSpecs[] = {{"v", true}, {"ve", false}, {"t", true}, {"s", true}, {"d", true}, {"f", false}};

// True when the value exists already; the key not existing means it does not.
DWORD valueExists(port::RegistryPort& registry, const KeyPath& path, const std::wstring& name, bool* exists) {
  port::ScopedKey key(registry);
  DWORD error = registry.openKey(path.root, path.subKey.c_str(), KEY_QUERY_VALUE, key.out());
  if (error == ERROR_FILE_NOT_FOUND) {
    *exists = false;
    return ERROR_SUCCESS;
  }
  if (error != ERROR_SUCCESS) return error;
  error = registry.queryValue(key.get(), name.c_str(), nullptr, nullptr, nullptr);
  *exists = error == ERROR_SUCCESS;
  return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
}

}  // namespace

int regAdd(std::span<const std::string> args, port::RegistryPort& registry, Console& console) {
  ParsedArgs parsed;
  if (int code = prepareArgs(args, kSpecs, 1, kTopic, console, &parsed); code >= 0) return code;
  KeyPath path;
  if (!keyArgument(parsed.positional[0], kTopic, console, &path)) return kExitUsage;

  if (parsed.has("v") && parsed.has("ve")) return usageError(console, "Use either /v NAME or /ve, not both.", kTopic);
  const bool setsValue = parsed.has("v") || parsed.has("ve");
  if (!setsValue && (parsed.has("t") || parsed.has("d") || parsed.has("s"))) {
    return usageError(console, "/t, /d and /s need a value: give /v NAME, or /ve for the default value.", kTopic);
  }
  DWORD type = REG_SZ;
  if (parsed.has("t")) {
    const auto parsedType = parseTypeName(parsed.value("t"));
    if (!parsedType) {
      return usageError(
          console,
          "Invalid type \"" + parsed.value("t") +
              "\": use REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, REG_BINARY or REG_NONE.",
          kTopic);
    }
    type = *parsedType;
  }
  if (parsed.has("s") && (type != REG_MULTI_SZ || parsed.value("s").empty())) {
    return usageError(console, "/s gives the separator of REG_MULTI_SZ data and must not be empty.", kTopic);
  }
  std::vector<BYTE> data;
  std::string error;
  if (setsValue && !buildValueData(type, parsed.value("d"), parsed.value("s"), &data, &error)) {
    return usageError(console, error, kTopic);
  }
  const std::wstring name = utf8ToWide(parsed.value("v"));

  // Without /f an existing value stays as it is: btutil never prompts.
  if (setsValue && !parsed.has("f")) {
    bool exists = false;
    if (DWORD code = valueExists(registry, path, name, &exists); code != ERROR_SUCCESS) {
      return failure(console, "Cannot read " + shownPath(path) + ": " + errorText(code));
    }
    if (exists) {
      return usageError(console, "The value " + displayName(name) + " already exists under " + shownPath(path) +
                                     "; add /f to overwrite it.");
    }
  }

  port::ScopedKey key(registry);
  DWORD code = registry.createKey(path.root, path.subKey.c_str(), KEY_QUERY_VALUE | KEY_SET_VALUE, key.out(), nullptr);
  if (code != ERROR_SUCCESS) return failure(console, "Cannot create " + shownPath(path) + ": " + errorText(code));
  if (setsValue) {
    code = registry.setValue(key.get(), name.c_str(), type, data.data(), static_cast<DWORD>(data.size()));
    if (code != ERROR_SUCCESS) {
      return failure(console,
                     "Cannot write " + displayName(name) + " under " + shownPath(path) + ": " + errorText(code));
    }
  }
  reportSuccess(console);
  return kExitOk;
}

}  // namespace utils::btutil
