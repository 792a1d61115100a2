// btutil ftplist: file-name list blocks to and from the command line. pack writes
// a block to standard output; unpack checks a block from a file or standard input
// before taking it apart, since it comes from outside.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "commands.h"
#include "common/utf16.h"
#include "options.h"
#include "transfer/ftp_list_check.h"
#include "usage.h"
#include "utils/transfer.h"

namespace utils::btutil {
namespace {

constexpr OptionSpec kPackOptions[] = {{"lead", true}};
constexpr OptionSpec kUnpackOptions[] = {{"lead", false}, {"0", false}};
// A block's size field is 32 bits.
constexpr size_t kMaxBlockBytes = 0xFFFFFFFFu;

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

std::u16string blockText(std::string_view utf8) { return wideToUtf16(utf8ToWide(utf8)); }

// Parses the switches; -1 to go on, else the exit code.
int parse(std::span<const std::string> args, std::span<const OptionSpec> specs, std::string_view topic,
          Console& console, ParsedArgs* parsed) {
  std::string error;
  if (!parseArgs(args, specs, parsed, &error)) return usageError(console, error, topic);
  if (parsed->help) {
    printUsage(console.out, topic);
    return kExitOk;
  }
  return -1;
}

int runPack(std::span<const std::string> args, Console& console) {
  ParsedArgs parsed;
  if (int exit = parse(args, kPackOptions, "ftplist pack", console, &parsed); exit >= 0) return exit;
  std::vector<std::u16string> names;
  for (size_t i = 0; i < parsed.positional.size(); ++i) {
    if (parsed.positional[i].empty()) {
      return usageError(console, "File name " + std::to_string(i + 1) + " is empty: an empty name would end the list.",
                        "ftplist pack");
    }
    names.push_back(blockText(parsed.positional[i]));
  }
  std::vector<const FTPCHAR*> pointers;
  for (const auto& name : names) pointers.push_back(reinterpret_cast<const FTPCHAR*>(name.c_str()));
  const std::u16string lead = blockText(parsed.value("lead"));
  const FTPCHAR* leadPointer = parsed.has("lead") ? reinterpret_cast<const FTPCHAR*>(lead.c_str()) : nullptr;
  const DWORD count = static_cast<DWORD>(pointers.size());
  const DWORD size = CalcFtpFileListSize(leadPointer, pointers.data(), count);
  std::unique_ptr<BYTE, FreeDeleter> block(static_cast<BYTE*>(BuildFtpFileList(leadPointer, pointers.data(), count)));
  if (block == nullptr) {
    return failure(console, "The block could not be made: it would exceed 4 GiB or memory ran out.");
  }
  console.out.write(reinterpret_cast<const char*>(block.get()), size);
  return kExitOk;
}

// Reads the whole block; false (with the exit code in *exit) when it cannot be read.
bool readBlock(std::istream& in, const std::string& source, std::vector<BYTE>* data, Console& console, int* exit) {
  char chunk[65536];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    if (data->size() + static_cast<size_t>(in.gcount()) > kMaxBlockBytes) {
      *exit = usageError(console, source + " is larger than any block (4 GiB).");
      return false;
    }
    data->insert(data->end(), chunk, chunk + in.gcount());
  }
  if (in.bad()) {
    *exit = failure(console, source + " could not be read.");
    return false;
  }
  return true;
}

int runUnpack(std::span<const std::string> args, std::istream& in, Console& console) {
  ParsedArgs parsed;
  if (int exit = parse(args, kUnpackOptions, "ftplist unpack", console, &parsed); exit >= 0) return exit;
  if (parsed.positional.size() > 1) {
    return usageError(console, "ftplist unpack reads one FILE (or standard input).", "ftplist unpack");
  }
  std::vector<BYTE> data;
  int exit = kExitOk;
  const std::string path = parsed.positional.empty() ? "-" : parsed.positional[0];
  if (path == "-") {
    if (!readBlock(in, "Standard input", &data, console, &exit)) return exit;
  } else {
    std::error_code code;
    if (std::filesystem::is_directory(path, code)) return failure(console, "Cannot read " + path + ": a directory.");
    std::ifstream file(path, std::ios::binary);
    if (!file) return failure(console, "Cannot read " + path + ": it cannot be opened.");
    if (!readBlock(file, path, &data, console, &exit)) return exit;
  }

  const bool withLead = parsed.has("lead");
  std::string error;
  if (!transfer::checkFtpFileList(data.data(), data.size(), withLead, &error)) {
    return usageError(console, "Not a well-formed file-name list block: " + error);
  }
  FTPCHAR* lead = nullptr;
  FTPCHAR** names = nullptr;
  DWORD count = 0;
  if (!GetFtpFileList(data.data(), withLead ? &lead : nullptr, &names, &count)) {
    return failure(console, "Out of memory.");
  }
  std::unique_ptr<FTPCHAR*, FreeDeleter> owned(names);
  std::vector<std::string> lines;
  if (withLead) lines.push_back(wideToUtf8(utf16ToWide(reinterpret_cast<const char16_t*>(lead))));
  for (DWORD i = 0; i < count; ++i)
    lines.push_back(wideToUtf8(utf16ToWide(reinterpret_cast<const char16_t*>(names[i]))));
  const bool nulSeparated = parsed.has("0");
  if (!nulSeparated) {
    for (size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].find('\n') != std::string::npos) {
        return usageError(console, "String " + std::to_string(i + 1) +
                                       " holds a line break, which one name per line cannot show: add -0 to end "
                                       "each with a NUL instead.");
      }
    }
  }
  for (const std::string& line : lines) {
    console.out << line;
    console.out.put(nulSeparated ? '\0' : '\n');
  }
  return kExitOk;
}

}  // namespace

int runFtplist(std::span<const std::string> args, std::istream& in, Console& console) {
  const std::string verb = args.empty() ? std::string() : lowerAscii(args[0]);
  if (verb == "pack") return runPack(args.subspan(1), console);
  if (verb == "unpack") return runUnpack(args.subspan(1), in, console);
  return usageError(console,
                    args.empty() ? "btutil ftplist needs pack or unpack."
                                 : "Unknown ftplist operation \"" + args[0] + "\": use pack or unpack.",
                    "ftplist");
}

}  // namespace utils::btutil
