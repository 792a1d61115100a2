// Bluetooth device addresses as typed on the command line: the text form with
// ':' or '-' separators or none, or the 64-bit value.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "utils/address.h"

namespace utils::btutil {

struct AddressInput {
  std::array<BYTE, 6> bd{};  // BdAddr: most significant byte first
  BtAddr bt = 0;
};

// Parses an address and fills both forms through the library's conversions.
// Twelve decimal digits alone are refused as ambiguous.
bool parseAddress(std::string_view text, AddressInput* address, std::string* error);

// "00 1A 7D DA 71 13"
std::string bdBytesText(const std::array<BYTE, 6>& bd);

// "0x001A7DDA7113"
std::string btValueText(BtAddr bt);

// The text form from BT2Lptstr, in UTF-8.
std::string addressText(BtAddr bt);

}  // namespace utils::btutil
