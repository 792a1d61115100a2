// The daemon's log: one line per call on standard error ("vrlbusd: " first),
// which systemd's journal keeps. Lines are written out by flushLog.
#pragma once

#include <span>
#include <string>

namespace vrlbusd {

void log(const std::string& line);
void flushLog();

// "0A 1B 2C"
std::string hex(std::span<const uint8_t> bytes);

// "0xFC59"
std::string opcodeText(uint16_t opcode);

}  // namespace vrlbusd
