// btutil hci OPCODE [PARAM-BYTES...] [--pattern BYTE]: one vendor HCI command
// through the bus driver, with the result code and the driver's answer.
#include <array>
#include <vector>

#include "command_args.h"
#include "numbers.h"
#include "radio_commands.h"
#include "usage.h"
#include "utils/radio.h"

namespace utils::btutil {
namespace {

constexpr DWORD kAnswerSize = 1024;

// One argument of hex digit pairs ("01", "aa", "0102"), optionally with 0x.
bool appendBytes(const std::string& text, std::vector<BYTE>* bytes) {
  std::string_view digits = text;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits.remove_prefix(2);
  const auto parsed = parseHexBytes(digits);
  if (!parsed || parsed->empty()) return false;
  bytes->insert(bytes->end(), parsed->begin(), parsed->end());
  return true;
}

// The answer as an HCI event (code, length and that many parameters), or the
// first 16 bytes when it does not read as one.
std::vector<BYTE> shownAnswer(const std::array<BYTE, kAnswerSize>& answer) {
  size_t length = answer[0] != 0 ? 2 + static_cast<size_t>(answer[1]) : 16;
  return std::vector<BYTE>(answer.begin(), answer.begin() + static_cast<std::ptrdiff_t>(length));
}

std::string spaced(const std::vector<BYTE>& bytes) {
  const std::string digits = hexBytes(bytes);
  std::string text;
  for (size_t i = 0; i < digits.size(); i += 2) text += (i ? " " : "") + digits.substr(i, 2);
  return text;
}

}  // namespace

int runHci(std::span<const std::string> args, Console& console) {
  static constexpr OptionSpec kSpecs[] = {{"pattern", true}};
  ParsedArgs parsed;
  std::string error;
  if (!parseArgs(args, kSpecs, &parsed, &error)) return usageError(console, error, "hci");
  if (parsed.help) {
    printUsage(console.out, "hci");
    return kExitOk;
  }
  if (parsed.positional.empty()) return usageError(console, "btutil hci needs an opcode.", "hci");
  const auto opcode = parseUnsigned(parsed.positional[0], 0xFFFF);
  if (!opcode)
    return usageError(console, "The opcode must be a number up to 0xFFFF: \"" + parsed.positional[0] + "\".", "hci");
  std::vector<BYTE> parameters;
  for (size_t i = 1; i < parsed.positional.size(); ++i) {
    if (!appendBytes(parsed.positional[i], &parameters)) {
      return usageError(console, "Parameter bytes are pairs of hex digits: \"" + parsed.positional[i] + "\".", "hci");
    }
  }
  if (parameters.size() > 255) return usageError(console, "At most 255 parameter bytes.", "hci");
  std::vector<BYTE> pattern;
  if (parsed.has("pattern") && (!appendBytes(parsed.value("pattern"), &pattern) || pattern.size() != 1)) {
    return usageError(console, "The pattern is one byte in hex: \"" + parsed.value("pattern") + "\".", "hci");
  }

  std::array<BYTE, kAnswerSize> answer{};
  const DWORD result =
      SendVendorHCICmdEx(static_cast<WORD>(*opcode), static_cast<int>(parameters.size()), parameters.data(),
                         pattern.empty() ? FALSE : TRUE, pattern.empty() ? 0 : pattern[0], answer.data(), kAnswerSize);
  console.out << "Result: " << resultText(result) << '\n';
  if (result != 0) return failure(console, "The command was not carried out: " + resultText(result) + ".");
  console.out << "Answer: " << spaced(shownAnswer(answer)) << '\n';
  return kExitOk;
}

}  // namespace utils::btutil
