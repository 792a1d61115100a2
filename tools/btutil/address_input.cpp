#include "address_input.h"

#include <cstdio>

#include "common/utf16.h"
#include "numbers.h"

namespace utils::btutil {
namespace {

constexpr uint64_t kMaxAddress = 0xFFFFFFFFFFFFull;

bool allOf(std::string_view text, int (*test)(int)) {
  for (char c : text) {
    if (!test(static_cast<unsigned char>(c))) return false;
  }
  return !text.empty();
}

int isHex(int c) { return hexDigitValue(static_cast<wchar_t>(c)) >= 0; }
int isDecimal(int c) { return c >= '0' && c <= '9'; }

// Six groups of one or two hex digits, all joined by the same separator, or
// twelve hex digits without one.
bool parseTextForm(std::string_view text, std::array<BYTE, 6>* bd) {
  const char separator = text.find(':') != std::string_view::npos ? ':' : '-';
  std::array<std::string_view, 6> groups;
  if (text.find(separator) == std::string_view::npos) {
    if (text.size() != 12) return false;
    for (size_t i = 0; i < 6; ++i) groups[i] = text.substr(2 * i, 2);
  } else {
    size_t count = 0;
    for (size_t start = 0;;) {
      const size_t end = text.find(separator, start);
      if (count == 6) return false;
      groups[count++] = text.substr(start, end - start);
      if (end == std::string_view::npos) break;
      start = end + 1;
    }
    if (count != 6) return false;
  }
  for (size_t i = 0; i < 6; ++i) {
    if (groups[i].size() > 2 || !allOf(groups[i], isHex)) return false;
    (*bd)[i] = static_cast<BYTE>(*parseUnsigned("0x" + std::string(groups[i]), 0xFF));
  }
  return true;
}

}  // namespace

bool parseAddress(std::string_view text, AddressInput* address, std::string* error) {
  const bool prefixed = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const bool separated = text.find_first_of(":-") != std::string_view::npos;
  if (!prefixed && !separated && text.size() == 12 && allOf(text, isDecimal)) {
    *error = "The address \"" + std::string(text) +
             "\" is ambiguous: write the text form with separators (00:11:22:33:44:55) or the value with 0x.";
    return false;
  }
  if (!prefixed && (separated || (text.size() == 12 && allOf(text, isHex)))) {
    if (!parseTextForm(text, &address->bd)) {
      *error =
          "Invalid address \"" + std::string(text) + "\": the text form is six hex bytes such as 00:1a:7d:da:71:13.";
      return false;
    }
    address->bt = BdaddrToBtaddr(address->bd.data());
    return true;
  }
  const auto value = parseUnsigned(text, ~0ull);
  if (!value) {
    *error = "Invalid address \"" + std::string(text) +
             "\": give the text form (00:1a:7d:da:71:13) or the value (0x1A7DDA7113 or decimal).";
    return false;
  }
  if (*value > kMaxAddress) {
    *error = "The address value " + std::string(text) + " does not fit in 48 bits.";
    return false;
  }
  address->bt = *value;
  BtAddrToBDAddr(address->bt, address->bd.data());
  return true;
}

std::string bdBytesText(const std::array<BYTE, 6>& bd) {
  char text[24];
  std::snprintf(text, sizeof text, "%02X %02X %02X %02X %02X %02X", bd[0], bd[1], bd[2], bd[3], bd[4], bd[5]);
  return text;
}

std::string btValueText(BtAddr bt) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%012llX", static_cast<unsigned long long>(bt));
  return text;
}

std::string addressText(BtAddr bt) {
  wchar_t text[18] = {};
  BT2Lptstr(text, &bt);
  return wideToUtf8(text);
}

}  // namespace utils::btutil
