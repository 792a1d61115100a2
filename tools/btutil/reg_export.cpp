// btutil reg export KEY FILE [/y]
#include <filesystem>

#include "command_args.h"
#include "file_io.h"
#include "options.h"
#include "reg_commands.h"
#include "reg_file.h"
#include "registry_reader.h"
#include "text_codec.h"
#include "win_error.h"

namespace utils::btutil {
namespace {

constexpr std::string_view kTopic = "reg export";
constexpr OptionSpec kSpecs[] = {{"y", false}};

// reg takes /y only after KEY and FILE; "--" ends the switches.
bool yesBeforeFile(std::span<const std::string> args) {
  size_t positional = 0;
  for (const auto& arg : args) {
    const std::string lower = lowerAscii(arg);
    if (lower == "/y" || lower == "-y" || lower == "--y") return positional < 2;
    if (arg == "--") return false;
    ++positional;  // help requests and unknown switches ended the command before
  }
  return false;
}

}  // namespace

int regExport(std::span<const std::string> args, port::RegistryPort& registry, Console& console) {
  ParsedArgs parsed;
  if (int code = prepareArgs(args, kSpecs, 2, kTopic, console, &parsed); code >= 0) return code;
  if (yesBeforeFile(args)) return usageError(console, "/y goes after KEY and FILE.", kTopic);
  KeyPath path;
  if (!keyArgument(parsed.positional[0], kTopic, console, &path)) return kExitUsage;
  const std::string& file = parsed.positional[1];
  std::error_code ignored;
  if (!parsed.has("y") && std::filesystem::exists(file, ignored)) {
    return usageError(console, "The file " + file + " exists; add /y to overwrite it.", kTopic);
  }

  std::vector<KeySnapshot> keys;
  KeyPath failed;
  if (DWORD code = snapshotTree(registry, path, &keys, &failed); code != ERROR_SUCCESS) {
    return failure(console, "Cannot read " + shownPath(failed) + ": " + errorText(code));
  }
  std::wstring text;
  std::string error;
  if (!formatRegFile(keys, &text, &error)) return failure(console, error);
  // A symbolic link at the target is not followed: in a shared folder it may
  // have been planted to aim a privileged export at another file; nor is it
  // replaced, which would silently undo a link its owner made on purpose.
  switch (replaceFile(file, encodeUtf16LeWithBom(text), &error)) {
    case WriteResult::Done: break;
    case WriteResult::NotRegular:
      return usageError(console, "Cannot write " + file + ": " + error + "; export writes regular files only.", kTopic);
    case WriteResult::Failed: return failure(console, "Cannot write " + file + ": " + error);
  }
  reportSuccess(console);
  return kExitOk;
}

}  // namespace utils::btutil
