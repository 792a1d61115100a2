// The five exported functions over file-name list blocks.
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

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

// Copies units code units and a terminator to out; returns the position after it.
BYTE* putString(BYTE* out, const FTPCHAR* text, size_t units) {
  const size_t bytes = kUnitBytes * (units + 1);
  std::memcpy(out, text, bytes);
  return out + bytes;
}

// Writes the strings from offset 4 on, then the list terminator; returns the
// position after the terminator. lengths (may be null) holds each name's length
// as measured before, so that no name is scanned twice.
BYTE* putStrings(BYTE* block, const FTPCHAR* lead, const FTPCHAR* const* names, DWORD count, const size_t* lengths) {
  BYTE* out = block + kFirstStringOffset;
  if (lead != nullptr) out = putString(out, lead, unitLength(lead));
  if (names != nullptr) {
    for (DWORD i = 0; i < count; ++i) {
      if (names[i] != nullptr) out = putString(out, names[i], lengths != nullptr ? lengths[i] : unitLength(names[i]));
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

// Frees a malloc'ed array when it goes out of scope.
template <typename T>
struct MallocArray {
  T* items = nullptr;
  ~MallocArray() { std::free(items); }
  T* release() { return std::exchange(items, nullptr); }
};

// Pointers to the non-empty strings starting at text, in one scan of the block:
// a malloc'ed array (null when there are none) and its length. False when the
// array cannot be allocated.
bool collectStrings(FTPCHAR* text, FTPCHAR*** array, DWORD* count) {
  MallocArray<FTPCHAR*> found;
  size_t capacity = 0;
  DWORD used = 0;
  while (*text != 0) {
    if (used == capacity) {
      capacity = capacity == 0 ? 64 : capacity * 2;
      auto* grown = static_cast<FTPCHAR**>(std::realloc(found.items, capacity * sizeof(FTPCHAR*)));
      if (grown == nullptr) return false;
      found.items = grown;
    }
    found.items[used++] = text;
    text += unitLength(text) + 1;
  }
  *array = found.release();
  *count = used;
  return true;
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
  // One scan measures every name; the copy then runs on known lengths.
  MallocArray<size_t> lengths;
  uint64_t bytes = kFixedBytes;
  if (lead != nullptr) bytes += kUnitBytes * (unitLength(lead) + 1);
  if (names != nullptr && count != 0) {
    lengths.items = static_cast<size_t*>(std::malloc(sizeof(size_t) * count));
    if (lengths.items == nullptr) return nullptr;
    for (DWORD i = 0; i < count; ++i) {
      lengths.items[i] = names[i] != nullptr ? unitLength(names[i]) : 0;
      if (names[i] != nullptr) bytes += kUnitBytes * (lengths.items[i] + 1);
    }
  }
  // A size beyond the 32-bit field is refused, never wrapped around.
  if (bytes > std::numeric_limits<DWORD>::max()) return nullptr;
  const auto size = static_cast<DWORD>(bytes);
  auto* block = static_cast<BYTE*>(std::malloc(size));
  if (block == nullptr) return nullptr;
  const BYTE sizeField[4] = {BYTE(size), BYTE(size >> 8), BYTE(size >> 16), BYTE(size >> 24)};
  std::memcpy(block, sizeField, sizeof sizeField);
  BYTE* end = putStrings(block, lead, names, count, lengths.items);
  std::memset(end, 0, 2);  // the two spare bytes
  return block;
}

UTILS_API BOOL PutFtpFileList(void* block, const FTPCHAR* lead, const FTPCHAR* const* names, DWORD count) {
  if (block == nullptr) return FALSE;
  putStrings(static_cast<BYTE*>(block), lead, names, count, nullptr);
  return TRUE;
}

UTILS_API DWORD GetFtpFileListCount(const void* block) {
  if (block == nullptr) return 0;
  return countStrings(stringAt(const_cast<void*>(block), 0));
}

UTILS_API BOOL GetFtpFileList(void* block, FTPCHAR** lead, FTPCHAR*** names, DWORD* count) {
  if (block == nullptr) {
    // No block: every output the caller gave says "nothing", so none is left
    // holding whatever it held before.
    if (lead != nullptr) *lead = nullptr;
    if (names != nullptr) *names = nullptr;
    if (count != nullptr) *count = 0;
    return FALSE;
  }
  size_t skip = 0;
  if (lead != nullptr) {
    *lead = stringAt(block, 0);
    skip = unitLength(*lead) + 1;
  }
  if (names == nullptr && count == nullptr) return TRUE;

  FTPCHAR* first = stringAt(block, skip);
  if (names == nullptr) {
    *count = countStrings(first);
    return TRUE;
  }
  FTPCHAR** array = nullptr;
  DWORD found = 0;
  if (!collectStrings(first, &array, &found)) {
    if (count != nullptr) *count = countStrings(first);
    return FALSE;
  }
  if (count != nullptr) *count = found;
  *names = array;  // null when there are no names
  return TRUE;
}

}  // extern "C"
