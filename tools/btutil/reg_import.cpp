// btutil reg import FILE
#include "command_args.h"
#include "common/utf16.h"
#include "file_io.h"
#include "reg_commands.h"
#include "reg_file.h"
#include "text_codec.h"
#include "win_error.h"

namespace utils::btutil {
namespace {

constexpr std::string_view kTopic = "reg import";
constexpr size_t kMaxFileBytes = 64u * 1024 * 1024;

// Applies one section; on failure *failedLine is the line that was refused.
DWORD applySection(port::RegistryPort& registry, const RegFileSection& section, size_t* failedLine) {
  *failedLine = section.line;
  if (section.remove) {
    const DWORD code = registry.deleteTree(section.key.root, section.key.subKey.c_str());
    return code == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : code;  // already absent
  }
  port::ScopedKey key(registry);
  DWORD code = registry.createKey(section.key.root, section.key.subKey.c_str(), KEY_QUERY_VALUE | KEY_SET_VALUE,
                                  key.out(), nullptr);
  if (code != ERROR_SUCCESS) return code;
  for (const auto& entry : section.entries) {
    *failedLine = entry.line;
    const RegValue& value = entry.value;
    if (entry.remove) {
      code = registry.deleteValue(key.get(), value.name.c_str());
      if (code == ERROR_FILE_NOT_FOUND) code = ERROR_SUCCESS;  // already absent
    } else {
      code = registry.setValue(key.get(), value.name.c_str(), value.type, value.data.data(),
                               static_cast<DWORD>(value.data.size()));
    }
    if (code != ERROR_SUCCESS) return code;
  }
  return ERROR_SUCCESS;
}

}  // namespace

int regImport(std::span<const std::string> args, port::RegistryPort& registry, Console& console) {
  ParsedArgs parsed;
  if (int code = prepareArgs(args, {}, 1, kTopic, console, &parsed); code >= 0) return code;
  const std::string& file = parsed.positional[0];

  std::string bytes;
  std::string error;
  if (!readWholeFile(file, kMaxFileBytes, &bytes, &error))
    return failure(console, "Cannot read " + file + ": " + error);
  // The whole file is decoded and parsed before anything is written, so a
  // malformed file changes nothing.
  std::wstring text;
  if (!decodeTextFile(bytes, &text, &error)) return usageError(console, file + ": " + error + " Nothing was imported.");
  std::vector<RegFileSection> sections;
  RegFileError parseError;
  if (!parseRegFile(text, &sections, &parseError)) {
    const std::string where = parseError.line > 0 ? ", line " + std::to_string(parseError.line) : "";
    return usageError(console, file + where + ": " + parseError.message + " Nothing was imported.");
  }
  for (const auto& section : sections) {
    size_t line = 0;
    if (DWORD code = applySection(registry, section, &line); code != ERROR_SUCCESS) {
      return failure(console, file + ", line " + std::to_string(line) + " (" + wideToUtf8(fullPath(section.key)) +
                                  "): " + errorText(code) + " The lines before it were imported.");
    }
  }
  reportSuccess(console);
  return kExitOk;
}

}  // namespace utils::btutil
