#include "radio/bus_requests.h"

#include <cstring>

namespace utils::radio {
namespace {

constexpr size_t kHeaderSize = 9;
constexpr size_t kPatternSize = 3;
constexpr size_t kMinimumRequest = 10;
// The largest parameter count a request can carry; anything larger is a caller's
// mistake that would otherwise make the length computation wrap.
constexpr int kMaxParameterCount = 0xFFFF;

void storeLe16(BYTE* at, WORD value) {
  at[0] = static_cast<BYTE>(value);
  at[1] = static_cast<BYTE>(value >> 8);
}

void storeLe32(BYTE* at, DWORD value) {
  storeLe16(at, static_cast<WORD>(value));
  storeLe16(at + 2, static_cast<WORD>(value >> 16));
}

}  // namespace

std::vector<BYTE> buildVendorCommand(const VendorCommand& command, LengthByteRule rule) {
  const int n = command.parameterCount;
  if (n < 0 || n > kMaxParameterCount) return {};
  const size_t count = static_cast<size_t>(n);
  size_t length = count + kHeaderSize + (command.usePattern ? kPatternSize : 0);
  if (length < kMinimumRequest) length = kMinimumRequest;

  BYTE lengthByte = 0;
  if (rule == LengthByteRule::kCountPatternNeverZero) {
    lengthByte = static_cast<BYTE>(count + (command.usePattern ? kPatternSize : 0));
    if (lengthByte == 0) lengthByte = 1;
  } else {
    lengthByte = static_cast<BYTE>(count);
  }

  std::vector<BYTE> request(length, 0);
  storeLe32(&request[0], command.manufacturer);
  request[4] = 0;  // LMP version
  request[5] = 1;  // match any single pattern
  storeLe16(&request[6], command.opcode);
  request[8] = lengthByte;
  if (count != 0 && command.parameters != nullptr) std::memcpy(&request[kHeaderSize], command.parameters, count);
  if (command.usePattern) {
    request[kHeaderSize + count] = static_cast<BYTE>(count);
    request[kHeaderSize + count + 1] = 1;
    request[kHeaderSize + count + 2] = command.patternByte;
  }
  return request;
}

std::vector<BYTE> buildPairedCountRequest(BYTE count) {
  std::vector<BYTE> request(kPairedCountRequestSize, 0);
  storeLe32(&request[0], kPairedCountTag);
  storeLe32(&request[4], count);
  return request;
}

bool isCommandComplete(const BYTE* answer, size_t size) {
  return size >= 6 && answer[0] == 0x0E && answer[1] >= 4 && answer[2] == 1;
}

}  // namespace utils::radio
