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
  // "HKCU\" names no key below the root, and reg.exe refuses a trailing
  // backslash on any key path it adds.
  if (const std::string& key = parsed.positional[0]; !key.empty() && key.back() == '\\') {
    return usageError(console, "Invalid key name \"" + key + "\": a key path must not end with a backslash.", kTopic);
  }
  KeyPath path;
  if (!keyArgument(parsed.positional[0], kTopic, console, &path)) return kExitUsage;

  if (parsed.has("v") && parsed.has("ve")) return usageError(console, "Use either /v NAME or /ve, not both.", kTopic);
  DWORD type = REG_SZ;
  if (parsed.has("t")) {
    const auto parsedType = parseTypeName(parsed.value("t"));
    if (!parsedType) {
      return usageError(console,
                        "Invalid type \"" + parsed.value("t") +
                            "\": use REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_DWORD_LITTLE_ENDIAN, "
                            "REG_DWORD_BIG_ENDIAN, REG_QWORD, REG_BINARY or REG_NONE.",
                        kTopic);
    }
    type = *parsedType;
  }
  if (parsed.has("s") && (type != REG_MULTI_SZ || utf8ToWide(parsed.value("s")).size() != 1)) {
    return usageError(console, "/s gives the separator of REG_MULTI_SZ data: exactly one character.", kTopic);
  }
  if ((type == REG_DWORD || type == REG_DWORD_BIG_ENDIAN) && !parsed.has("d"))
    return usageError(console, "REG_DWORD needs its number: give /d.", kTopic);
  std::vector<BYTE> data;
  std::string error;
  if (!buildValueData(type, parsed.value("d"), parsed.value("s"), &data, &error)) {
    return usageError(console, error, kTopic);
  }
  // Without /v the default value is set (to empty data when /d is missing), as
  // /ve sets it.
  const std::wstring name = utf8ToWide(parsed.value("v"));

  // Without /f an existing value stays as it is: btutil never prompts.
  if (!parsed.has("f")) {
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
  code = registry.setValue(key.get(), name.c_str(), type, data.data(), static_cast<DWORD>(data.size()));
  if (code != ERROR_SUCCESS) {
    return failure(console, "Cannot write " + displayName(name) + " under " + shownPath(path) + ": " + errorText(code));
  }
  reportSuccess(console);
  return kExitOk;
}

}  // namespace utils::btutil
