#include "port/win32/warning_dialog.h"

#include <cwchar>

#include "port/dialog_placement.h"
#include "port/win32/warning_resources.h"

namespace utils::win32port {
namespace {

constexpr COLORREF kWhite = 0xFFFFFF;

// What the dialog keeps while it is open: its parent and the one brush it paints
// with, released when the dialog goes.
struct DialogState {
  HWND parent;
  HBRUSH white;
};

// The module that holds this code (the DLL, or a program linked with it).
HMODULE ownModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&warningDialogProc), &module);
  return module;
}

void centreOverParent(HWND dialog, HWND parent) {
  if (parent == nullptr) return;
  RECT own{};
  RECT over{};
  if (!GetWindowRect(dialog, &own) || !GetWindowRect(parent, &over)) return;
  const port::DialogOrigin origin =
      port::centredOnScreen({own.left, own.top, own.right, own.bottom}, {over.left, over.top, over.right, over.bottom},
                            GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  MoveWindow(dialog, origin.x, origin.y, own.right - own.left, own.bottom - own.top, FALSE);
}

void showCommonIcon(HWND dialog) {
  wchar_t path[MAX_PATH];
  if (!pathBesideModule(ownModule(), L"BtCommonRes.dll", path)) return;
  HMODULE resources = LoadLibraryW(path);
  if (resources == nullptr) return;
  if (HICON icon = LoadIconW(resources, MAKEINTRESOURCEW(IDI_COMMON_WARNING)); icon != nullptr) {
    SendDlgItemMessageW(dialog, IDC_WARNING_ICON, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
  }
  FreeLibrary(resources);
}

}  // namespace

bool pathBesideModule(HMODULE module, const wchar_t* fileName, wchar_t (&path)[MAX_PATH]) {
  const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
  // A full buffer means the name was cut.
  if (length == 0 || length >= MAX_PATH) return false;
  const wchar_t* slash = std::wcsrchr(path, L'\\');
  if (slash == nullptr) return false;
  const size_t folder = static_cast<size_t>(slash - path) + 1;
  const size_t name = std::wcslen(fileName);
  if (folder + name >= MAX_PATH) return false;
  std::wmemcpy(path + folder, fileName, name + 1);
  return true;
}

INT_PTR CALLBACK warningDialogProc(HWND dialog, UINT message, WPARAM, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto* state = reinterpret_cast<DialogState*>(lParam);
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      centreOverParent(dialog, state != nullptr ? state->parent : nullptr);
      showCommonIcon(dialog);
      return TRUE;
    }
    case WM_COMMAND:
    case WM_CLOSE: EndDialog(dialog, 0); return TRUE;
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC: {
      auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrW(dialog, DWLP_USER));
      return state != nullptr ? reinterpret_cast<INT_PTR>(state->white) : FALSE;
    }
    default: return FALSE;
  }
}

DWORD showWarningDialog(HWND parent) {
  DialogState state{parent, CreateSolidBrush(kWhite)};
  const INT_PTR result = DialogBoxParamW(ownModule(), MAKEINTRESOURCEW(IDD_INVALID_PASSWORD), parent,
                                         &warningDialogProc, reinterpret_cast<LPARAM>(&state));
  const DWORD error = result == -1 ? GetLastError() : 0;
  if (state.white != nullptr) DeleteObject(state.white);
  return result == -1 ? (error != 0 ? error : ERROR_INVALID_FUNCTION) : 0;
}

}  // namespace utils::win32port
