/* File-name list blocks exchanged by the file transfer programs.
 *
 * A block: a 32-bit little-endian total size, then an optional leading string and
 * the file names, each a string of 16-bit code units ending in a 0 unit, then one
 * 0 unit that ends the list and two spare bytes. Nothing in the block says whether
 * a leading string is present: producer and consumer agree on it.
 *
 * Blocks from BuildFtpFileList and arrays from GetFtpFileList are allocated with
 * malloc and released by the caller with free. A null entry in a name array is
 * skipped. */
#ifndef UTILS_TRANSFER_H
#define UTILS_TRANSFER_H

#include "utils/export.h"
#include "utils/wintypes.h"

/* The block's character: a 16-bit code unit on every platform. */
#if defined(_WIN32)
typedef wchar_t FTPCHAR;
#elif defined(__cplusplus)
typedef char16_t FTPCHAR;
#else
#include <uchar.h>
typedef char16_t FTPCHAR;
#endif

UTILS_EXTERN_C_BEGIN

/* The block size in bytes for this leading string (may be null) and these names
 * (names may be null); 0 when the block would not fit in 32 bits. */
UTILS_API DWORD CalcFtpFileListSize(const FTPCHAR* lead, const FTPCHAR* const* names, DWORD count);

/* A new block holding the leading string (if any) and the names; null when it
 * cannot be allocated. */
UTILS_API void* BuildFtpFileList(const FTPCHAR* lead, const FTPCHAR* const* names, DWORD count);

/* Writes the strings into a block the caller sized with CalcFtpFileListSize; the
 * size field and the two spare bytes are left as they are. Returns 1; 0 (and
 * nothing written) for a null block. */
UTILS_API BOOL PutFtpFileList(void* block, const FTPCHAR* lead, const FTPCHAR* const* names, DWORD count);

/* The number of non-empty strings from offset 4 to the list's end (a leading
 * string counts as a name); 0 for a null block. */
UTILS_API DWORD GetFtpFileListCount(const void* block);

/* Takes a block apart: with lead given, the first string is the leading string
 * and *lead points at it; *names receives a malloc'ed array of pointers into the
 * block (null when there are no names), *count the number of names. Each output
 * may be null. 0 when the array cannot be allocated, and for a null block (the
 * given outputs then hold null and 0).
 *
 * The block's size field is not read: PutFtpFileList leaves it to the caller, so
 * it may hold anything. A block from outside the process is checked first (the
 * size field against the bytes received, every string ended inside the block)
 * by the program that receives it, as btutil does. */
UTILS_API BOOL GetFtpFileList(void* block, FTPCHAR** lead, FTPCHAR*** names, DWORD* count);

UTILS_EXTERN_C_END

#endif /* UTILS_TRANSFER_H */
