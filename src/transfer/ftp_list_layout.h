// The layout of a file-name list block, shared by the exported functions and the
// checks of blocks that come from outside.
#pragma once

#include <cstddef>
#include <cstdint>

#include "utils/transfer.h"

namespace utils::transfer {

// Offset of the first string: after the 32-bit size field.
inline constexpr size_t kFirstStringOffset = 4;
// What a block holds besides its strings: size field, list terminator, two spare bytes.
inline constexpr uint64_t kFixedBytes = 8;
inline constexpr size_t kUnitBytes = sizeof(FTPCHAR);
static_assert(kUnitBytes == 2, "the block's code units are 16 bits wide on every platform");

// Code units before the terminating 0 unit.
size_t unitLength(const FTPCHAR* text);

// The exact block size for a leading string (may be null) and names, without the
// 32-bit limit; null name entries are skipped.
uint64_t blockBytes(const FTPCHAR* lead, const FTPCHAR* const* names, DWORD count);

}  // namespace utils::transfer
