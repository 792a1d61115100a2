#include "transfer/ftp_list_check.h"

#include <cstdint>
#include <cstring>

#include "transfer/ftp_list_layout.h"

namespace utils::transfer {
namespace {

uint16_t unitAt(const BYTE* data, size_t offset) {
  uint16_t unit = 0;
  std::memcpy(&unit, data + offset, sizeof unit);
  return unit;
}

// The offset just past the terminator of the string at offset, or 0 when no
// terminator comes before limit.
size_t endOfString(const BYTE* data, size_t offset, size_t limit) {
  for (size_t at = offset; at + kUnitBytes <= limit; at += kUnitBytes) {
    if (unitAt(data, at) == 0) return at + kUnitBytes;
  }
  return 0;
}

}  // namespace

bool checkFtpFileList(const BYTE* data, size_t size, bool withLead, std::string* error) {
  if (size < kFixedBytes) {
    *error = "The block has " + std::to_string(size) + " bytes; the smallest block has 8.";
    return false;
  }
  // The size field is not consulted: the readers never read it, and a block made
  // in place (PutFtpFileList) may never have had it written. The extent given is
  // what bounds every string.
  if (size % kUnitBytes != 0) {
    *error = "The block has an odd number of bytes (" + std::to_string(size) + ").";
    return false;
  }
  // The strings and the list terminator fill everything before the spare bytes.
  const size_t limit = size - 2;
  size_t at = kFirstStringOffset;
  if (withLead) {
    at = endOfString(data, at, limit);
    if (at == 0) {
      *error = "The leading string has no terminator inside the block.";
      return false;
    }
  }
  size_t names = 0;
  while (at + kUnitBytes <= limit && unitAt(data, at) != 0) {
    const size_t next = endOfString(data, at, limit);
    if (next == 0) {
      *error = "File name " + std::to_string(names + 1) + " has no terminator inside the block.";
      return false;
    }
    at = next;
    ++names;
  }
  if (at + kUnitBytes > limit) {
    *error = "The list has no terminating empty string before the block's last two bytes.";
    return false;
  }
  if (at + kUnitBytes != limit) {
    *error = "The block has " + std::to_string(limit - at - kUnitBytes) + " bytes after the end of its list.";
    return false;
  }
  return true;
}

}  // namespace utils::transfer
