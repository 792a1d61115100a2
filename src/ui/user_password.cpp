// GetUserPassword: prompts for the password of the session's own account, checks
// it by a logon, and hands the verified credentials to the unlock component.
// Every record that held the password in clear is wiped before it is released.
#include <algorithm>
#include <memory>
#include <type_traits>

#include "common/secure_wipe.h"
#include "diag/export_guard.h"
#include "port/platform.h"
#include "utils/ui.h"

namespace utils::ui {
namespace {

constexpr const wchar_t* kUnlockLibrary = L"VskSdkDll.dll";
constexpr const char* kUnlockEntry = "LE_EnableUnlockFeature";
constexpr const wchar_t* kCaption = L"Bluetooth Proximity";
constexpr const wchar_t* kMessage = L"Enter password for user account.";

// LE_EnableUnlockFeature(context, user name, domain, password, its length in
// characters without the terminator): 0 when the component accepted them.
using UnlockEntry = DWORD (*)(ULONGLONG, const wchar_t*, const wchar_t*, const wchar_t*, DWORD);

// The entered credentials, wiped (again) and handed back to the port on every path.
struct CredentialsRelease {
  port::CredentialsPort* port;
  void operator()(port::EnteredCredentials* record) const {
    secureWipe(record, sizeof *record);
    port->releaseCredentials(record);
  }
};
using CredentialsRecord = std::unique_ptr<port::EnteredCredentials, CredentialsRelease>;

// A loaded unlock component, released on every path.
struct ModuleRelease {
  port::ModulePort* port;
  void operator()(HMODULE module) const { port->release(module); }
};
using LoadedModule = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleRelease>;

// Loads the unlock component, calls its entry and releases it. 1 when the entry
// returned 0.
BOOL enableUnlock(ULONGLONG context, const port::SessionAccount& account, const port::EnteredCredentials& entered) {
  port::ModulePort& modules = *port::platform().module;
  HMODULE loaded = nullptr;
  if (modules.load(kUnlockLibrary, &loaded) != ERROR_SUCCESS) return FALSE;
  const LoadedModule library(loaded, ModuleRelease{&modules});
  port::ModuleEntry entry = nullptr;
  if (modules.entry(library.get(), kUnlockEntry, &entry) != ERROR_SUCCESS || entry == nullptr) return FALSE;
  constexpr DWORD kMaxLength = sizeof entered.password / sizeof entered.password[0] - 1;
  const DWORD length = entered.passwordChars > 0 ? std::min(entered.passwordChars - 1, kMaxLength) : 0;
  const auto unlock = reinterpret_cast<UnlockEntry>(entry);
  return unlock(context, account.userName.c_str(), account.domain.c_str(), entered.password, length) == 0 ? TRUE
                                                                                                          : FALSE;
}

BOOL getUserPassword(ULONGLONG context, HWND parent) {
  if (port::platform().credentials == nullptr || port::platform().module == nullptr) return FALSE;
  port::CredentialsPort& credentials = *port::platform().credentials;

  ULONG package = 0;  // the prompt's default package when the lookup fails
  if (credentials.authenticationPackage("Kerberos", &package) != ERROR_SUCCESS) package = 0;

  port::SessionAccount account;
  if (credentials.sessionAccount(&account) != ERROR_SUCCESS) return FALSE;

  CredentialsRecord entered(credentials.allocateCredentials(), CredentialsRelease{&credentials});
  if (!entered) return FALSE;

  const port::PasswordPrompt prompt{parent, kCaption, kMessage, account.userName.c_str(), package};
  port::PromptStep failedStep = port::PromptStep::kNone;
  if (credentials.promptForPassword(prompt, entered.get(), &failedStep) != ERROR_SUCCESS) {
    // Only credentials that were entered but could not be read get the warning.
    if (failedStep == port::PromptStep::kUnpack) credentials.showInvalidPasswordWarning(parent);
    return FALSE;
  }
  // The terminator is always inside the buffer, whatever the port reported.
  entered->password[sizeof entered->password / sizeof entered->password[0] - 1] = L'\0';

  const DWORD logon = credentials.logon(account.userName.c_str(), account.domain.c_str(), entered->password);
  const bool blankPasswordRefused = logon == ERROR_ACCOUNT_RESTRICTION && entered->passwordChars == 1;
  if (logon != ERROR_SUCCESS && !blankPasswordRefused) {
    credentials.showInvalidPasswordWarning(parent);
    return FALSE;
  }
  return enableUnlock(context, account, *entered);
}

}  // namespace
}  // namespace utils::ui

extern "C" UTILS_API BOOL GetUserPassword(ULONGLONG context, HWND parent) {
  return utils::diag::guardExport("GetUserPassword", BOOL{FALSE},
                                  [context, parent] { return utils::ui::getUserPassword(context, parent); });
}
