// btutil reg export KEY FILE [/y]
#include <filesystem>

#include "command_args.h"
#include "file_io.h"
#include "reg_commands.h"
#include "reg_file.h"
#include "registry_reader.h"
#include "text_codec.h"
#include "win_error.h"

namespace utils::btutil {
namespace {

constexpr std::string_view kTopic = "reg export";
constexpr OptionSpec kSpecs[] = {{"y", false}};

}  // namespace

int regExport(std::span<const std::string> args, port::RegistryPort& registry, Console& console) {
  ParsedArgs parsed;
  if (int code = prepareArgs(args, kSpecs, 2, kTopic, console, &parsed); code >= 0) return code;
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
