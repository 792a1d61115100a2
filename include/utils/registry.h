/* One-call registry helpers (1 = success) and a case-insensitive wide substring search. */
#ifndef UTILS_REGISTRY_H
#define UTILS_REGISTRY_H

#include "utils/export.h"
#include "utils/wintypes.h"

UTILS_EXTERN_C_BEGIN

UTILS_API BOOL SetRegisterDWORD(const wchar_t* keyPath, const wchar_t* valueName, DWORD value, HKEY root);
UTILS_API BOOL GetRegisterDWORD(const wchar_t* keyPath, const wchar_t* valueName, DWORD* value, HKEY root);
UTILS_API BOOL SetRegisterStr(const wchar_t* keyPath, const wchar_t* valueName, const wchar_t* value, HKEY root);
/* size is in wide characters; no terminator is added to what is stored. */
UTILS_API BOOL GetRegisterStr(const wchar_t* keyPath, const wchar_t* valueName, wchar_t* buffer, DWORD size, HKEY root);
UTILS_API BOOL CreateRegisterSubKey(const wchar_t* keyPath, HKEY root);
/* Removes the named value under keyPath; an absent key or value counts as removed. */
UTILS_API BOOL DeleteRegisterSubkey(const wchar_t* keyPath, const wchar_t* valueName, HKEY root);
UTILS_API BOOL DeleteRegisterSubTree(const wchar_t* keyPath, HKEY root);

/* Pointer into text at the first case-insensitive match of pattern, or null.
 * size is the text buffer's size in wide characters. */
UTILS_API wchar_t* stristr(wchar_t* text, size_t size, const wchar_t* pattern);

UTILS_EXTERN_C_END

#endif /* UTILS_REGISTRY_H */
