// The modal "Warning" dialog for a wrong password, from the template in the
// resources of the module that holds this code.
#pragma once

#include <windows.h>

namespace utils::win32port {

// Shows the dialog over parent (may be null) and blocks until it closes. Returns
// 0, or the error when the template could not be shown.
DWORD showWarningDialog(HWND parent);

// The dialog's procedure (exposed for the tests).
INT_PTR CALLBACK warningDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The path of a file in the folder of module, or false when it would not fit
// whole in 260 characters (a cut path is never used).
bool pathBesideModule(HMODULE module, const wchar_t* fileName, wchar_t (&path)[MAX_PATH]);

}  // namespace utils::win32port
