/* Bluetooth device addresses: the 64-bit BtAddr and the 6-byte BdAddr. */
#ifndef UTILS_ADDRESS_H
#define UTILS_ADDRESS_H

#include "utils/export.h"
#include "utils/wintypes.h"

/* Address value in bits 0..47, little-endian in memory. */
typedef ULONGLONG BtAddr;
/* Most significant byte first, in the order the text form prints. */
typedef BYTE BdAddr[6];

UTILS_EXTERN_C_BEGIN

UTILS_API BYTE* rmemcpy(BYTE* destination, const BYTE* source, int count);
UTILS_API int rmemcmp(const BYTE* first, const BYTE* second, int count);
UTILS_API BYTE* ConvertToBD(BYTE* destination, const BYTE* source);
UTILS_API BYTE* ConvertToBT(BYTE* destination, const BYTE* source);
UTILS_API void BtAddrToBDAddr(BtAddr address, BYTE* destination);
UTILS_API BtAddr BdaddrToBtaddr(const BYTE* source);
/* Text form "xx:xx:xx:xx:xx:xx"; the buffer holds at least 18 wide characters. */
UTILS_API wchar_t* BT2Lptstr(wchar_t* text, const BtAddr* address);
UTILS_API wchar_t* BD2Lptstr(wchar_t* text, const BYTE* address);
UTILS_API BOOL BTEqualsBT(const BtAddr* first, const BtAddr* second);
UTILS_API BOOL BTEqualsBD(const BtAddr* bt, const BYTE* bd);
UTILS_API BOOL IsEmptyBT(const BtAddr* address);
UTILS_API BOOL IsEmptyBD(const BYTE* address);

UTILS_EXTERN_C_END

#endif /* UTILS_ADDRESS_H */
