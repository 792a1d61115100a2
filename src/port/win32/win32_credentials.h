// The credentials port on Windows: the terminal-services session record, LSA's
// package lookup, the credential prompt, LogonUserW and the library's own warning
// dialog (template 260 in its resources).
#pragma once

#include "port/credentials_port.h"

namespace utils::win32port {

class Win32Credentials : public port::CredentialsPort {
 public:
  port::EnteredCredentials* allocateCredentials() override;
  void releaseCredentials(port::EnteredCredentials* record) override;
  DWORD sessionAccount(port::SessionAccount* account) override;
  DWORD authenticationPackage(const char* name, ULONG* id) override;
  DWORD promptForPassword(const port::PasswordPrompt& prompt, port::EnteredCredentials* entered,
                          port::PromptStep* failedStep) override;
  DWORD logon(const wchar_t* userName, const wchar_t* domain, const wchar_t* password) override;
  DWORD showInvalidPasswordWarning(HWND parent) override;
};

}  // namespace utils::win32port
