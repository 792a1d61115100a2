// The five exported functions over file-name list blocks.
#include <cstdlib>
#include <cstring>
#include <limits>

#include "transfer/ftp_list_layout.h"
#include "utils/transfer.h"

namespace utils::transfer {

size_t unitLength(const FTPCHAR* text) {
  const FTPCHAR* end = text;
  while (*end != 0) ++end;
  return static_cast<size_t>(end - text);
}

uint64_t blockBytes(const FTPCHAR* lead, const FTPCHAR* const* names, DWORD count) {
  // The leading string takes its units and terminator on top of the fixed bytes.
  uint64_t bytes = kFixedBytes;
  if (lead != nullptr) bytes += kUnitBytes * (unitLength(lead) + 1);
  if (names != nullptr) {
    for (DWORD i = 0; i < count; ++i) {
      if (names[i] != nullptr) bytes += kUnitBytes * (unitLength(names[i]) + 1);
    }
  }
  return bytes;
}

namespace {

// Copies text with its terminator to out and returns the position after it.
BYTE* putString(BYTE* out, const FTPCHAR* text) {
  const size_t bytes = kUnitBytes * (unitLength(text) + 1);
  std::memcpy(out, text, bytes);
  return out + bytes;
}

// Writes the strings from offset 4 on, then the list terminator; returns the
// position after the terminator.
BYTE* putStrings(BYTE* block, const FTPCHAR* lead, const FTPCHAR* const* names, DWORD count) {
  BYTE* out = block + kFirstStringOffset;
  if (lead != nullptr) out = putString(out, lead);
  if (names != nullptr) {
    for (DWORD i = 0; i < count; ++i) {
      if (names[i] != nullptr) out = putString(out, names[i]);
    }
  }
  const FTPCHAR terminator = 0;
  std::memcpy(out, &terminator, kUnitBytes);
  return out + kUnitBytes;
}

// The string at a position inside a block the caller vouches for.
FTPCHAR* stringAt(void* block, size_t unitOffset) {
  return reinterpret_cast<FTPCHAR*>(static_cast<BYTE*>(block) + kFirstStringOffset) + unitOffset;
}

// Counts the non-empty strings starting at text, up to the first empty one.
DWORD countStrings(const FTPCHAR* text) {
  DWORD count = 0;
  while (*text != 0) {
    text += unitLength(text) + 1;
    ++count;
  }
  return count;
}

}  // namespace
}  // namespace utils::transfer

using namespace utils::transfer;

extern "C" {

UTILS_API DWORD CalcFtpFileListSize(const FTPCHAR* lead, const FTPCHAR* const* names, DWORD count) {
  const uint64_t bytes = blockBytes(lead, names, count);
  // A size that does not fit the 32-bit field could not be allocated or
  // described: 0, which no block has, rather than a wrapped-around size.
  return bytes > std::numeric_limits<DWORD>::max() ? 0 : static_cast<DWORD>(bytes);
}

UTILS_API void* BuildFtpFileList(const FTPCHAR* lead, const FTPCHAR* const* names, DWORD count) {
  const DWORD size = CalcFtpFileListSize(lead, names, count);
  if (size == 0) return nullptr;
  auto* block = static_cast<BYTE*>(std::malloc(size));
  if (block == nullptr) return nullptr;
  const BYTE sizeField[4] = {BYTE(size), BYTE(size >> 8), BYTE(size >> 16), BYTE(size >> 24)};
  std::memcpy(block, sizeField, sizeof sizeField);
  BYTE* end = putStrings(block, lead, names, count);
  std::memset(end, 0, 2);  // the two spare bytes
  return block;
}

UTILS_API BOOL PutFtpFileList(void* block, const FTPCHAR* lead, const FTPCHAR* const* names, DWORD count) {
  putStrings(static_cast<BYTE*>(block), lead, names, count);
  return TRUE;
}

UTILS_API DWORD GetFtpFileListCount(const void* block) { return countStrings(stringAt(const_cast<void*>(block), 0)); }

UTILS_API BOOL GetFtpFileList(void* block, FTPCHAR** lead, FTPCHAR*** names, DWORD* count) {
  size_t skip = 0;
  if (lead != nullptr) {
    *lead = stringAt(block, 0);
    skip = unitLength(*lead) + 1;
  }
  if (names == nullptr && count == nullptr) return TRUE;

  FTPCHAR* first = stringAt(block, skip);
  const DWORD found = countStrings(first);
  if (count != nullptr) *count = found;
  if (names == nullptr) return TRUE;
  if (found == 0) {
    *names = nullptr;
    return TRUE;
  }
  auto** array = static_cast<FTPCHAR**>(std::malloc(sizeof(FTPCHAR*) * found));
  if (array == nullptr) return FALSE;
  FTPCHAR* text = first;
  for (DWORD i = 0; i < found; ++i) {
    array[i] = text;
    text += unitLength(text) + 1;
  }
  *names = array;
  return TRUE;
}

}  // extern "C"
