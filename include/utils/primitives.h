/* Byte order loads and stores, intrusive lists, memory and narrow strings. */
#ifndef UTILS_PRIMITIVES_H
#define UTILS_PRIMITIVES_H

#include "utils/export.h"
#include "utils/wintypes.h"

UTILS_EXTERN_C_BEGIN

UTILS_API WORD BEtoHost16(const BYTE* p);
UTILS_API DWORD BEtoHost32(const BYTE* p);
UTILS_API ULONGLONG BEtoHost64(const BYTE* p);
UTILS_API WORD LEtoHost16(const BYTE* p);
UTILS_API DWORD LEtoHost32(const BYTE* p);
UTILS_API void StoreLE16(BYTE* p, WORD v);
UTILS_API void StoreLE32(BYTE* p, DWORD v);
UTILS_API void StoreBE16(BYTE* p, WORD v);
UTILS_API void StoreBE32(BYTE* p, DWORD v);
UTILS_API void StoreBE64(BYTE* p, ULONGLONG v);

UTILS_API void _InsertTailList(LIST_ENTRY* head, LIST_ENTRY* entry);
UTILS_API void _InsertHeadList(LIST_ENTRY* head, LIST_ENTRY* entry);
UTILS_API LIST_ENTRY* _RemoveHeadList(LIST_ENTRY* head);
UTILS_API BOOL RemoveEntryList(LIST_ENTRY* entry);
UTILS_API BOOL IsNodeOnList(LIST_ENTRY* head, LIST_ENTRY* node);
UTILS_API BOOL IsListCircular(LIST_ENTRY* head);

UTILS_API void* OS_MemCopy(void* destination, const void* source, DWORD count);
UTILS_API void* OS_MemSet(void* destination, BYTE value, DWORD count);
/* 1 when the lengths and the bytes are equal. */
UTILS_API BOOL OS_MemCmp(const void* first, WORD firstLength, const void* second, WORD secondLength);
/* 0 when equal, 1 when different: no ordering. */
UTILS_API int OS_StrCmp(const char* first, const char* second);
UTILS_API SIZE_T OS_StrLen(const char* text);

UTILS_EXTERN_C_END

#endif /* UTILS_PRIMITIVES_H */
