// Bluetooth addresses as Linux writes them ("00:1A:7D:DA:71:13", the most
// significant byte first), shared by the library's BlueZ adapters and vrlbusd.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace utils::linuxport {

// Reads six colon-separated hex pairs (either case). False for anything else.
inline bool parseColonAddress(const std::string& text, uint64_t* address) {
  if (text.size() != 17) return false;
  uint64_t value = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (i % 3 == 2) {
      if (c != ':') return false;
      continue;
    }
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return false;
    value = value << 4 | static_cast<uint64_t>(digit);
  }
  *address = value;
  return true;
}

// The upper-case text of the low 48 bits of address.
inline std::string colonAddressText(uint64_t address) {
  char text[18];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", static_cast<unsigned>(address >> 40 & 0xFF),
                static_cast<unsigned>(address >> 32 & 0xFF), static_cast<unsigned>(address >> 24 & 0xFF),
                static_cast<unsigned>(address >> 16 & 0xFF), static_cast<unsigned>(address >> 8 & 0xFF),
                static_cast<unsigned>(address & 0xFF));
  return text;
}

}  // namespace utils::linuxport
