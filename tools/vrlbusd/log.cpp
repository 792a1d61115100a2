#include "log.h"

#include <cstdio>
#include <iostream>

namespace vrlbusd {

// Lines are kept in the stream's buffer and written together once per turn of
// the daemon's loop (flushLog), before the answers go out. main() turns off the
// standard streams' sync with stdio, which gives the log stream a buffer of
// its own.
void log(const std::string& line) { std::clog << "vrlbusd: " << line << '\n'; }

void flushLog() { std::clog.flush(); }

std::string hex(std::span<const uint8_t> bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string text;
  for (uint8_t b : bytes) {
    if (!text.empty()) text += ' ';
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

std::string opcodeText(uint16_t opcode) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", opcode);
  return text;
}

}  // namespace vrlbusd
