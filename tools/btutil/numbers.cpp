#include "numbers.h"

namespace utils::btutil {

int hexDigitValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return static_cast<int>(c - L'0');
  if (c >= L'a' && c <= L'f') return static_cast<int>(c - L'a' + 10);
  if (c >= L'A' && c <= L'F') return static_cast<int>(c - L'A' + 10);
  return -1;
}

std::optional<uint64_t> parseUnsigned(std::string_view text, uint64_t max) {
  uint64_t base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    const int digit = hexDigitValue(static_cast<unsigned char>(c));
    if (digit < 0 || static_cast<uint64_t>(digit) >= base) return std::nullopt;
    if (value > (max - static_cast<uint64_t>(digit)) / base) return std::nullopt;  // would pass max
    value = value * base + static_cast<uint64_t>(digit);
  }
  return value;
}

std::optional<std::vector<BYTE>> parseHexBytes(std::string_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::vector<BYTE> bytes;
  bytes.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = hexDigitValue(static_cast<unsigned char>(text[i]));
    const int low = hexDigitValue(static_cast<unsigned char>(text[i + 1]));
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<BYTE>(high * 16 + low));
  }
  return bytes;
}

std::string hexBytes(const std::vector<BYTE>& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (BYTE b : bytes) {
    text.push_back(kDigits[b >> 4]);
    text.push_back(kDigits[b & 0x0F]);
  }
  return text;
}

std::vector<BYTE> littleEndianBytes(uint64_t value, size_t width) {
  std::vector<BYTE> bytes(width);
  for (size_t i = 0; i < width; ++i) bytes[i] = static_cast<BYTE>(value >> (8 * i));
  return bytes;
}

uint64_t littleEndianValue(const std::vector<BYTE>& bytes) {
  uint64_t value = 0;
  for (size_t i = bytes.size(); i-- > 0;) value = (value << 8) | bytes[i];
  return value;
}

}  // namespace utils::btutil
