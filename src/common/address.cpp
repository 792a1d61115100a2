// Bluetooth device addresses. A BtAddr holds the address value in bits 0..47,
// little-endian in memory (bytes A0..A5); a BdAddr holds the same six bytes most
// significant first (A5..A0), the order in which the text form prints them.
// A null pointer is never read or written: a function given one answers as
// for a failure (no copy, 0, "not equal", an empty text).
#include "utils/address.h"

namespace {

constexpr int kAddressBytes = 6;

const BYTE* bytesOf(const BtAddr* address) { return reinterpret_cast<const BYTE*>(address); }

// Writes "xx:xx:xx:xx:xx:xx" from six bytes in printing order.
wchar_t* printAddress(wchar_t* text, BYTE b0, BYTE b1, BYTE b2, BYTE b3, BYTE b4, BYTE b5) {
  const BYTE bytes[kAddressBytes] = {b0, b1, b2, b3, b4, b5};
  wchar_t* out = text;
  for (int i = 0; i < kAddressBytes; ++i) {
    if (i > 0) *out++ = L':';
    *out++ = static_cast<wchar_t>("0123456789abcdef"[bytes[i] >> 4]);
    *out++ = static_cast<wchar_t>("0123456789abcdef"[bytes[i] & 0xF]);
  }
  *out = L'\0';
  return text;
}

// The text of a missing address: empty (a null text buffer stays null).
wchar_t* emptyText(wchar_t* text) {
  if (text != nullptr) *text = L'\0';
  return text;
}

}  // namespace

extern "C" {

UTILS_API BYTE* rmemcpy(BYTE* destination, const BYTE* source, int count) {
  if (destination == nullptr || source == nullptr) return destination;
  for (int i = 0; i < count; ++i) destination[i] = source[count - 1 - i];
  return destination;
}

UTILS_API int rmemcmp(const BYTE* first, const BYTE* second, int count) {
  // A missing buffer equals nothing: it orders before the other one.
  if (count > 0 && first == nullptr) return -1;
  if (count > 0 && second == nullptr) return 1;
  for (int i = 0; i < count; ++i) {
    const int difference = static_cast<int>(first[i]) - static_cast<int>(second[count - 1 - i]);
    if (difference != 0) return difference;
  }
  return 0;
}

UTILS_API BYTE* ConvertToBD(BYTE* destination, const BYTE* source) {
  return rmemcpy(destination, source, kAddressBytes);
}

UTILS_API BYTE* ConvertToBT(BYTE* destination, const BYTE* source) {
  return rmemcpy(destination, source, kAddressBytes);
}

UTILS_API void BtAddrToBDAddr(BtAddr address, BYTE* destination) {
  if (destination == nullptr) return;
  for (int i = 0; i < kAddressBytes; ++i) {
    destination[i] = static_cast<BYTE>(address >> (8 * (kAddressBytes - 1 - i)));
  }
}

UTILS_API BtAddr BdaddrToBtaddr(const BYTE* source) {
  BtAddr value = 0;
  if (source == nullptr) return value;
  for (int i = 0; i < kAddressBytes; ++i) value = (value << 8) | source[i];
  return value;
}

UTILS_API wchar_t* BT2Lptstr(wchar_t* text, const BtAddr* address) {
  if (text == nullptr || address == nullptr) return emptyText(text);
  const BYTE* b = bytesOf(address);
  return printAddress(text, b[5], b[4], b[3], b[2], b[1], b[0]);
}

UTILS_API wchar_t* BD2Lptstr(wchar_t* text, const BYTE* address) {
  if (text == nullptr || address == nullptr) return emptyText(text);
  const BYTE* b = address;
  return printAddress(text, b[0], b[1], b[2], b[3], b[4], b[5]);
}

UTILS_API BOOL BTEqualsBT(const BtAddr* first, const BtAddr* second) {
  if (first == nullptr || second == nullptr) return 0;
  return *first == *second ? 1 : 0;
}

UTILS_API BOOL BTEqualsBD(const BtAddr* bt, const BYTE* bd) {
  if (bt == nullptr || bd == nullptr) return 0;
  return rmemcmp(bytesOf(bt), bd, kAddressBytes) == 0 ? 1 : 0;
}

UTILS_API BOOL IsEmptyBT(const BtAddr* address) {
  if (address == nullptr) return 0;
  return *address == 0 ? 1 : 0;
}

UTILS_API BOOL IsEmptyBD(const BYTE* address) {
  if (address == nullptr) return 0;
  for (int i = 0; i < kAddressBytes; ++i) {
    if (address[i] != 0) return 0;
  }
  return 1;
}

}  // extern "C"
