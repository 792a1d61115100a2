/* Trace and log output, and the value decoder for trace arguments. */
#ifndef UTILS_TRACE_H
#define UTILS_TRACE_H

#include "utils/export.h"
#include "utils/wintypes.h"

UTILS_EXTERN_C_BEGIN

/* Prefixed lines "[time][level][module]message\n", written when level shares a
 * bit with the "LogDebug" mask. A null module prints as empty brackets. */
UTILS_API void WRITELOG_A(int level, const char* module, const char* format, ...);
UTILS_API void WRITELOG_W(int level, const wchar_t* module, const wchar_t* format, ...);

/* Plain trace text, each behind one bit of the "EnableAppDebug" mask. */
UTILS_API void VRLN_BT_TRACE(const char* format, ...);
UTILS_API void VRLN_BT_TRACE_BME_A(const char* format, ...);
UTILS_API void VRLN_BT_TRACE_BME_W(const wchar_t* format, ...);
UTILS_API void VRLN_BT_TRACE_BME_U(const wchar_t* format, ...);
UTILS_API void VRLN_BT_ATLTRACE_A(const char* format, ...);
UTILS_API void VRLN_BT_ATLTRACE_W(const wchar_t* format, ...);
UTILS_API void VRLN_BT_ATLTRACE_U(const wchar_t* format, ...);

/* "Unknown type: 0x.." in one of ten static slots; the type name is not examined. */
UTILS_API char* XAD_Decode(DWORD value, const char* typeName);

UTILS_EXTERN_C_END

#endif /* UTILS_TRACE_H */
