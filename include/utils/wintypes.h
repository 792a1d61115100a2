/*
 * The Win32 names that the public interface uses. On Windows they come from the
 * system headers; elsewhere this header defines them with the same sizes and
 * values, so a caller's code reads the same on both platforms.
 */
#ifndef UTILS_WINTYPES_H
#define UTILS_WINTYPES_H

#if defined(_WIN32)
#include <windows.h>
/* after windows.h, which it needs */
#include <bluetoothapis.h>
#else

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint64_t ULONGLONG;
typedef uint64_t DWORD64;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef size_t SIZE_T;
typedef void* HANDLE;
typedef void* PVOID;
typedef void* LPVOID;
typedef BYTE* LPBYTE;
typedef DWORD* LPDWORD;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef wchar_t WCHAR;
typedef wchar_t* LPWSTR;
typedef const wchar_t* LPCWSTR;
typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef DWORD REGSAM;
typedef LONG LSTATUS;
typedef LONG HRESULT;
typedef unsigned int UINT;
typedef unsigned char UCHAR;
typedef unsigned short USHORT;
typedef intptr_t LONG_PTR;
typedef uintptr_t UINT_PTR;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef WORD LANGID;
typedef struct HWND__* HWND;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HMONITOR__* HMONITOR;
typedef PVOID HDEVNOTIFY;

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)

/* Waits. */
#define INFINITE 0xFFFFFFFF
#define WAIT_OBJECT_0 0x00000000L
#define WAIT_TIMEOUT 258L
#define WAIT_FAILED ((DWORD)0xFFFFFFFF)

#define MONITOR_DEFAULTTOPRIMARY 0x00000001

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

/* Predefined roots, sign-extended to pointer width as on 64-bit Windows. */
#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)((LONG)0x80000000))
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))
#define HKEY_USERS ((HKEY)(ULONG_PTR)((LONG)0x80000003))

/* Value types. */
#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_DWORD_BIG_ENDIAN 5
#define REG_MULTI_SZ 7
#define REG_QWORD 11

/* Access rights. */
#define DELETE 0x00010000
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F

#define REG_OPTION_NON_VOLATILE 0
#define REG_CREATED_NEW_KEY 1
#define REG_OPENED_EXISTING_KEY 2

/* RegGetValueW restriction flags. */
#define RRF_RT_REG_NONE 0x00000001
#define RRF_RT_REG_SZ 0x00000002
#define RRF_RT_REG_EXPAND_SZ 0x00000004
#define RRF_RT_REG_BINARY 0x00000008
#define RRF_RT_REG_DWORD 0x00000010
#define RRF_RT_REG_MULTI_SZ 0x00000020
#define RRF_RT_REG_QWORD 0x00000040
#define RRF_RT_DWORD (RRF_RT_REG_BINARY | RRF_RT_REG_DWORD)
#define RRF_RT_QWORD (RRF_RT_REG_BINARY | RRF_RT_REG_QWORD)
#define RRF_RT_ANY 0x0000FFFF
#define RRF_NOEXPAND 0x10000000
#define RRF_ZEROONFAILURE 0x20000000

/* Error codes. */
#define ERROR_SUCCESS 0L
#define NO_ERROR 0L
#define ERROR_INVALID_FUNCTION 1L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_BAD_FORMAT 11L
#define ERROR_INVALID_DATA 13L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_NOT_READY 21L
#define ERROR_WRITE_FAULT 29L
#define ERROR_READ_FAULT 30L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_SEM_TIMEOUT 121L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_LOCK_FAILED 167L
#define ERROR_BUSY 170L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_BADDB 1009L
#define ERROR_BADKEY 1010L
#define ERROR_CANTOPEN 1011L
#define ERROR_CANTREAD 1012L
#define ERROR_CANTWRITE 1013L
#define ERROR_REGISTRY_CORRUPT 1015L
#define ERROR_REGISTRY_IO_FAILED 1016L
#define ERROR_KEY_DELETED 1018L
#define ERROR_DISK_FULL 112L
#define ERROR_UNSUPPORTED_TYPE 1630L
#define ERROR_DATATYPE_MISMATCH 1629L
#define ERROR_NOT_FOUND 1168L
#define ERROR_INVALID_FLAGS 1004L
#define ERROR_INVALID_BLOCK 9L
#define ERROR_GEN_FAILURE 31L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_IO_PENDING 997L
#define ERROR_SERVICE_DOES_NOT_EXIST 1060L
#define ERROR_DEVICE_NOT_CONNECTED 1167L
#define ERROR_CANCELLED 1223L
#define ERROR_NOT_AUTHENTICATED 1244L
#define ERROR_CONNECTION_REFUSED 1225L
#define ERROR_REVISION_MISMATCH 1306L
#define ERROR_LOGON_FAILURE 1326L
#define ERROR_ACCOUNT_RESTRICTION 1327L
#define ERROR_PASSWORD_EXPIRED 1330L
#define ERROR_ACCOUNT_EXPIRED 1793L
#define ERROR_CLASS_ALREADY_EXISTS 1410L

/* COM results. */
#define S_OK ((HRESULT)0L)
#define S_FALSE ((HRESULT)1L)
#define E_FAIL ((HRESULT)0x80004005L)
#define E_INVALIDARG ((HRESULT)0x80070057L)
#define E_OUTOFMEMORY ((HRESULT)0x8007000EL)

typedef struct _GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} GUID;

typedef struct _LIST_ENTRY {
  struct _LIST_ENTRY* Flink;
  struct _LIST_ENTRY* Blink;
} LIST_ENTRY, *PLIST_ENTRY;

typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME;

typedef struct _SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
} SYSTEMTIME;

/* Bluetooth address as the Windows Bluetooth API holds it. */
typedef ULONGLONG BTH_ADDR;
typedef struct _BLUETOOTH_ADDRESS {
  union {
    BTH_ADDR ullLong;
    BYTE rgBytes[6];
  };
} BLUETOOTH_ADDRESS;

#define BLUETOOTH_MAX_NAME_SIZE 248

/* 520 bytes, with a 16-bit name as on Windows. */
typedef struct _BLUETOOTH_RADIO_INFO {
  DWORD dwSize;
  BLUETOOTH_ADDRESS address;
  uint16_t szName[BLUETOOTH_MAX_NAME_SIZE];
  ULONG ulClassofDevice;
  WORD lmpSubversion;
  WORD manufacturer;
} BLUETOOTH_RADIO_INFO;

/* 560 bytes, with a 16-bit name as on Windows. */
typedef struct _BLUETOOTH_DEVICE_INFO {
  DWORD dwSize;
  BLUETOOTH_ADDRESS Address;
  ULONG ulClassofDevice;
  BOOL fConnected;
  BOOL fRemembered;
  BOOL fAuthenticated;
  SYSTEMTIME stLastSeen;
  SYSTEMTIME stLastUsed;
  uint16_t szName[BLUETOOTH_MAX_NAME_SIZE];
} BLUETOOTH_DEVICE_INFO;

#endif /* !_WIN32 */
#endif /* UTILS_WINTYPES_H */
