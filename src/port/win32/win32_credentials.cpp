#include "port/win32/win32_credentials.h"

#include <windows.h>
// after windows.h, which they need
#include <ntsecapi.h>
#include <objbase.h>
#include <wincred.h>
#include <wtsapi32.h>

#include <cstring>
#include <string>

#include "port/win32/warning_dialog.h"

namespace utils::win32port {
namespace {

constexpr DWORD kPackedCapacity = 112;
// CredUnPackAuthenticationBufferW: decrypt protected credentials.
constexpr DWORD kPackProtectedCredentials = 0x1;

// Frees what WTSQuerySessionInformationW returned.
struct SessionRecord {
  WTSINFOW* info = nullptr;
  ~SessionRecord() {
    if (info != nullptr) WTSFreeMemory(info);
  }
};

}  // namespace

port::EnteredCredentials* Win32Credentials::allocateCredentials() {
  void* pages = VirtualAlloc(nullptr, sizeof(port::EnteredCredentials), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (pages == nullptr) return nullptr;
  // Kept out of the paging file where the working set allows.
  VirtualLock(pages, sizeof(port::EnteredCredentials));
  return new (pages) port::EnteredCredentials{};
}

void Win32Credentials::releaseCredentials(port::EnteredCredentials* record) {
  if (record == nullptr) return;
  SecureZeroMemory(record, sizeof *record);
  VirtualUnlock(record, sizeof *record);
  VirtualFree(record, 0, MEM_RELEASE);
}

DWORD Win32Credentials::sessionAccount(port::SessionAccount* account) {
  SessionRecord record;
  DWORD bytes = 0;
  if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, WTSSessionInfo,
                                   reinterpret_cast<LPWSTR*>(&record.info), &bytes)) {
    const DWORD error = GetLastError();
    return error != 0 ? error : ERROR_NOT_FOUND;
  }
  if (record.info == nullptr || bytes < sizeof(WTSINFOW)) return ERROR_INVALID_DATA;
  account->userName.assign(record.info->UserName, wcsnlen(record.info->UserName, USERNAME_LENGTH + 1));
  account->domain.assign(record.info->Domain, wcsnlen(record.info->Domain, DOMAIN_LENGTH + 1));
  return 0;
}

DWORD Win32Credentials::authenticationPackage(const char* name, ULONG* id) {
  HANDLE lsa = nullptr;
  NTSTATUS status = LsaConnectUntrusted(&lsa);
  if (status < 0) return LsaNtStatusToWinError(status);
  LSA_STRING package;
  package.Buffer = const_cast<PCHAR>(name);
  package.Length = static_cast<USHORT>(std::strlen(name));
  package.MaximumLength = static_cast<USHORT>(package.Length + 1);
  ULONG found = 0;
  status = LsaLookupAuthenticationPackage(lsa, &package, &found);
  LsaDeregisterLogonProcess(lsa);
  if (status < 0) return LsaNtStatusToWinError(status);
  *id = found;
  return 0;
}

DWORD Win32Credentials::promptForPassword(const port::PasswordPrompt& prompt, port::EnteredCredentials* entered,
                                          port::PromptStep* failedStep) {
  BYTE packed[kPackedCapacity] = {};
  DWORD packedSize = sizeof packed;
  wchar_t empty[1] = {L'\0'};
  if (!CredPackAuthenticationBufferW(0, const_cast<LPWSTR>(prompt.userName), empty, packed, &packedSize)) {
    *failedStep = port::PromptStep::kPack;
    return GetLastError();
  }
  CREDUI_INFOW info{};
  info.cbSize = sizeof info;  // 40
  info.hwndParent = prompt.parent;
  info.pszMessageText = prompt.message;
  info.pszCaptionText = prompt.caption;
  info.hbmBanner = nullptr;
  ULONG package = prompt.authPackage;
  void* returned = nullptr;
  ULONG returnedSize = 0;
  BOOL save = FALSE;
  const DWORD error = CredUIPromptForWindowsCredentialsW(&info, 0, &package, packed, packedSize, &returned,
                                                         &returnedSize, &save, CREDUIWIN_IN_CRED_ONLY);
  SecureZeroMemory(packed, sizeof packed);
  if (error != 0) {
    if (returned != nullptr) {
      SecureZeroMemory(returned, returnedSize);
      CoTaskMemFree(returned);
    }
    *failedStep = port::PromptStep::kPrompt;
    return error;
  }
  DWORD userChars = static_cast<DWORD>(std::size(entered->userName));
  DWORD domainChars = static_cast<DWORD>(std::size(entered->domain));
  DWORD passwordChars = static_cast<DWORD>(std::size(entered->password));
  const BOOL unpacked =
      CredUnPackAuthenticationBufferW(kPackProtectedCredentials, returned, returnedSize, entered->userName, &userChars,
                                      entered->domain, &domainChars, entered->password, &passwordChars);
  const DWORD unpackError = unpacked ? 0 : GetLastError();
  // The prompt's buffer held the password: wiped over its full size, then freed.
  if (returned != nullptr) {
    SecureZeroMemory(returned, returnedSize);
    CoTaskMemFree(returned);
  }
  if (!unpacked) {
    SecureZeroMemory(entered->password, sizeof entered->password);
    *failedStep = port::PromptStep::kUnpack;
    return unpackError != 0 ? unpackError : ERROR_INVALID_DATA;
  }
  entered->passwordChars = passwordChars;
  *failedStep = port::PromptStep::kNone;
  return 0;
}

DWORD Win32Credentials::logon(const wchar_t* userName, const wchar_t* domain, const wchar_t* password) {
  HANDLE token = nullptr;
  if (LogonUserW(userName, domain, password, LOGON32_LOGON_INTERACTIVE, LOGON32_PROVIDER_DEFAULT, &token)) {
    if (token != nullptr) CloseHandle(token);
    return 0;
  }
  const DWORD error = GetLastError();
  return error != 0 ? error : ERROR_LOGON_FAILURE;
}

DWORD Win32Credentials::showInvalidPasswordWarning(HWND parent) { return showWarningDialog(parent); }

}  // namespace utils::win32port
