// Loads and stores of fixed-order numbers in unaligned byte buffers, byte by
// byte, so any address is valid and the host's byte order plays no part. A
// null buffer is neither read nor written: a load from it gives 0.
#include "utils/primitives.h"

namespace {

template <typename T, int N>
T loadBigEndian(const BYTE* p) {
  T value = 0;
  if (p == nullptr) return value;
  for (int i = 0; i < N; ++i) value = static_cast<T>((value << 8) | p[i]);
  return value;
}

template <typename T, int N>
T loadLittleEndian(const BYTE* p) {
  T value = 0;
  if (p == nullptr) return value;
  for (int i = N - 1; i >= 0; --i) value = static_cast<T>((value << 8) | p[i]);
  return value;
}

template <typename T, int N>
void storeBigEndian(BYTE* p, T v) {
  if (p == nullptr) return;
  for (int i = N - 1; i >= 0; --i, v = static_cast<T>(v >> 8)) p[i] = static_cast<BYTE>(v);
}

template <typename T, int N>
void storeLittleEndian(BYTE* p, T v) {
  if (p == nullptr) return;
  for (int i = 0; i < N; ++i, v = static_cast<T>(v >> 8)) p[i] = static_cast<BYTE>(v);
}

}  // namespace

extern "C" {

UTILS_API WORD BEtoHost16(const BYTE* p) { return loadBigEndian<WORD, 2>(p); }
UTILS_API DWORD BEtoHost32(const BYTE* p) { return loadBigEndian<DWORD, 4>(p); }
UTILS_API ULONGLONG BEtoHost64(const BYTE* p) { return loadBigEndian<ULONGLONG, 8>(p); }
UTILS_API WORD LEtoHost16(const BYTE* p) { return loadLittleEndian<WORD, 2>(p); }
UTILS_API DWORD LEtoHost32(const BYTE* p) { return loadLittleEndian<DWORD, 4>(p); }
UTILS_API void StoreLE16(BYTE* p, WORD v) { storeLittleEndian<WORD, 2>(p, v); }
UTILS_API void StoreLE32(BYTE* p, DWORD v) { storeLittleEndian<DWORD, 4>(p, v); }
UTILS_API void StoreBE16(BYTE* p, WORD v) { storeBigEndian<WORD, 2>(p, v); }
UTILS_API void StoreBE32(BYTE* p, DWORD v) { storeBigEndian<DWORD, 4>(p, v); }
UTILS_API void StoreBE64(BYTE* p, ULONGLONG v) { storeBigEndian<ULONGLONG, 8>(p, v); }

}  // extern "C"
