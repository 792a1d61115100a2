#include "log.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace vrlbusd {

// One write per line, so that lines stay whole in a shared log and a request
// costs a single system call.
void log(const std::string& line) {
  const std::string text = "vrlbusd: " + line + "\n";
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(STDERR_FILENO, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a log that cannot be written loses the line, not the daemon
    written += static_cast<size_t>(n);
  }
}

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
