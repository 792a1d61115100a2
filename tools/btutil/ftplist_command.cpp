// btutil ftplist: file-name list blocks to and from the command line. pack writes
// a block to standard output; unpack checks a block from standard input before
// taking it apart, since it comes from outside.
#include <cstdlib>
#include <iterator>
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
constexpr OptionSpec kUnpackOptions[] = {{"lead", false}};
// A block's size field is 32 bits.
constexpr size_t kMaxBlockBytes = 0xFFFFFFFFu;

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

std::u16string blockText(std::string_view utf8) {
  const std::u16string units = wideToUtf16(utf8ToWide(utf8));
  return units;
}

int runPack(std::span<const std::string> args, Console& console) {
  ParsedArgs parsed;
  std::string error;
  if (!parseArgs(args, kPackOptions, &parsed, &error)) return usageError(console, error, "ftplist");
  if (parsed.help) {
    printUsage(console.out, "ftplist");
    return kExitOk;
  }
  std::vector<std::u16string> names;
  for (size_t i = 0; i < parsed.positional.size(); ++i) {
    if (parsed.positional[i].empty()) {
      return usageError(console, "File name " + std::to_string(i + 1) + " is empty: an empty name would end the list.",
                        "ftplist");
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
  if (block == nullptr)
    return failure(console, "The block could not be made: it would exceed 4 GiB or memory ran out.");
  console.out.write(reinterpret_cast<const char*>(block.get()), size);
  return kExitOk;
}

int runUnpack(std::span<const std::string> args, std::istream& in, Console& console) {
  ParsedArgs parsed;
  std::string error;
  if (!parseArgs(args, kUnpackOptions, &parsed, &error)) return usageError(console, error, "ftplist");
  if (parsed.help) {
    printUsage(console.out, "ftplist");
    return kExitOk;
  }
  if (!parsed.positional.empty())
    return usageError(console, "ftplist unpack reads its block from standard input.", "ftplist");
  std::vector<BYTE> data;
  char chunk[65536];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    if (data.size() + static_cast<size_t>(in.gcount()) > kMaxBlockBytes) {
      return usageError(console, "The input is larger than any block (4 GiB).");
    }
    data.insert(data.end(), chunk, chunk + in.gcount());
  }
  if (in.bad()) return failure(console, "Standard input could not be read.");
  const bool withLead = parsed.has("lead");
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
  auto print = [&console](const FTPCHAR* text) {
    console.out << wideToUtf8(utf16ToWide(reinterpret_cast<const char16_t*>(text))) << '\n';
  };
  if (withLead) print(lead);
  for (DWORD i = 0; i < count; ++i) print(names[i]);
  return kExitOk;
}

}  // namespace

int runFtplist(std::span<const std::string> args, std::istream& in, Console& console) {
  const std::string verb = args.empty() ? std::string() : lowerAscii(args[0]);
  if (verb == "pack") return runPack(args.subspan(1), console);
  if (verb == "unpack") return runUnpack(args.subspan(1), in, console);
  return usageError(
      console, args.empty() ? "btutil ftplist needs pack or unpack." : "Unknown ftplist operation \"" + args[0] + "\".",
      "ftplist");
}

}  // namespace utils::btutil
