/* User interaction helpers: the account password prompt, the language resource
 * library, the message-box reading order and the start-screen and taskbar checks. */
#ifndef UTILS_UI_H
#define UTILS_UI_H

#include "utils/export.h"
#include "utils/wintypes.h"

UTILS_EXTERN_C_BEGIN

/* Asks the user of the session for the password of the session's own account,
 * checks it by a logon and hands the verified credentials with context to the
 * unlock component ("VskSdkDll.dll", entry LE_EnableUnlockFeature). 1 when the
 * component accepted them, 0 in every other case. The prompt and the warning for
 * a wrong password are modal to parent (may be null). */
UTILS_API BOOL GetUserPassword(ULONGLONG context, HWND parent);

/* The language resource library for the user's interface language (or the one
 * the "Lang" settings name), loaded; NULL when there is none or it cannot be
 * loaded. The caller releases it with FreeLibrary. */
UTILS_API HMODULE LoadVskStackLangLibrary(void);

/* 0x100000 (MB_RTLREADING) when the user's interface language reads right to left
 * (Arabic 1025, Hebrew 1037), else 0. */
UTILS_API DWORD GetAdditionalMessageBoxStyle(void);

/* 1 on Windows 8 or later, 0 otherwise or when the version cannot be read. */
UTILS_API DWORD M2D_IsWindows8(void);

/* A new app-visibility context, or NULL (the shell has no app visibility object,
 * or memory ran out). Released with M2D_Uninitialize. */
UTILS_API void* M2D_Initialize(void);

/* 1 when the start screen or an app covers the desktop, so a program should show
 * itself through the taskbar's notification area instead; 0 when the desktop is
 * showing, for a null context, or when the taskbar cannot be found. */
UTILS_API DWORD M2D_NeedSwitch2ShellTray(void* context);

/* Releases a context of M2D_Initialize; NULL does nothing. */
UTILS_API void M2D_Uninitialize(void* context);

#if !defined(_WIN32)
/* Releases a library handed out by LoadVskStackLangLibrary. FALSE for a null
 * handle or when the release fails. On Windows the system's FreeLibrary does this. */
UTILS_API BOOL FreeLibrary(HMODULE module);
#endif

UTILS_EXTERN_C_END

#endif /* UTILS_UI_H */
