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

// The changes of a file for one root, in file order, with the line and key
// each comes from.
struct RootChanges {
  HKEY root = nullptr;
  std::vector<port::RegistryChange> changes;
  std::vector<const RegFileEntry*> entries;  // null: the section line itself
  std::vector<const RegFileSection*> sections;

  void add(const RegFileSection& section, const RegFileEntry* entry, port::RegistryChange change) {
    changes.push_back(change);
    entries.push_back(entry);
    sections.push_back(&section);
  }
};

void collect(const RegFileSection& section, RootChanges* out) {
  using Kind = port::RegistryChange::Kind;
  const wchar_t* key = section.key.subKey.c_str();
  if (section.remove) {
    out->add(section, nullptr, {Kind::DeleteTree, key});
    return;
  }
  out->add(section, nullptr, {Kind::CreateKey, key});
  for (const auto& entry : section.entries) {
    const RegValue& value = entry.value;
    if (entry.remove) {
      out->add(section, &entry, {Kind::DeleteValue, key, value.name.c_str()});
    } else {
      out->add(section, &entry,
               {Kind::SetValue, key, value.name.c_str(), value.type, value.data.data(),
                static_cast<DWORD>(value.data.size())});
    }
  }
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
  bool utf16 = false;
  if (!decodeRegFileText(bytes, &text, &utf16, &error)) {
    return usageError(console, file + ": " + error + " Nothing was imported.");
  }
  RegFileContent content;
  RegFileError headerError;
  if (!readRegFile(text, utf16, &content, &headerError)) {
    return usageError(console, file + ", line 1: " + headerError.message + " Nothing was imported.");
  }
  if (!content.skipped.empty()) {
    // reg.exe would skip these lines and import the rest; a half-imported
    // settings file is a half-configured machine, so nothing is imported.
    std::string message = file + ": " + std::to_string(content.skipped.size()) +
                          (content.skipped.size() == 1 ? " malformed line" : " malformed lines") +
                          ", which reg.exe would skip or mangle while importing the rest. btutil imports a file "
                          "whole or not at all. Nothing was imported.";
    for (const RegFileError& line : content.skipped) {
      message += "\n  line " + std::to_string(line.line) + ": " + line.message;
    }
    return usageError(console, message);
  }
  if (content.header == RegFileHeader::Ignored) {
    console.out << "Nothing was imported: reg.exe reads nothing of a file with this header.\n";
    return kExitOk;
  }
  for (const RegFileError& line : content.ignored) {
    console.err << file << ", line " << line.line << ": " << line.message << "\n";
  }
  const std::vector<RegFileSection>& sections = content.sections;

  // One transaction per store: everything a root receives is applied at once,
  // all or nothing. The machine store goes first: it is the one most likely to
  // refuse (it needs write permission on a system file).
  RootChanges roots[2] = {{HKEY_LOCAL_MACHINE, {}, {}, {}}, {HKEY_CURRENT_USER, {}, {}, {}}};
  for (const auto& section : sections) collect(section, &roots[section.key.root == HKEY_LOCAL_MACHINE ? 0 : 1]);
  bool appliedOne = false;
  for (const RootChanges& root : roots) {
    if (root.changes.empty()) continue;
    size_t failed = 0;
    const DWORD code = registry.applyChanges(root.root, root.changes.data(), root.changes.size(), &failed);
    if (code != ERROR_SUCCESS) {
      std::string where;
      if (failed < root.changes.size()) {
        const RegFileSection& section = *root.sections[failed];
        const size_t line = root.entries[failed] != nullptr ? root.entries[failed]->line : section.line;
        where = ", line " + std::to_string(line) + " (" + wideToUtf8(fullPath(section.key)) + ")";
      }
      const std::string what = wideToUtf8(rootLongName(root.root));
      const std::string outcome =
          appliedOne ? " Nothing was imported into " + what + "; the changes to HKEY_LOCAL_MACHINE were imported."
                     : " Nothing was imported.";
      return failure(console, file + where + ": " + errorText(code) + outcome);
    }
    appliedOne = true;
  }
  reportSuccess(console);
  return kExitOk;
}

}  // namespace utils::btutil
