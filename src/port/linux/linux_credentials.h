// The credentials port on Linux: the login session's user (no domains), the
// password prompt and the warning through pinentry, and the logon check through
// PAM. The pinentry program is UTILS_PINENTRY, else "pinentry" on PATH.
#pragma once

#include <string>

#include "port/credentials_port.h"
#include "port/linux/pinentry_session.h"

namespace utils::linuxport {

// The pinentry program to run: configured (UTILS_PINENTRY) when given, else
// "pinentry" on PATH. A set-user-ID or otherwise privileged process runs the
// system's own, so its caller's environment (UTILS_PINENTRY, PATH) cannot choose
// the program that is run with its privileges.
std::string pinentryProgram(bool privileged, const char* configured);

class LinuxCredentials : public port::CredentialsPort {
 public:
  // Options of the pinentry conversations; the program from the environment.
  LinuxCredentials();
  explicit LinuxCredentials(PinentryOptions options) : options_(std::move(options)) {}

  port::EnteredCredentials* allocateCredentials() override;
  void releaseCredentials(port::EnteredCredentials* record) override;
  DWORD sessionAccount(port::SessionAccount* account) override;
  DWORD authenticationPackage(const char* name, ULONG* id) override;
  DWORD promptForPassword(const port::PasswordPrompt& prompt, port::EnteredCredentials* entered,
                          port::PromptStep* failedStep) override;
  DWORD logon(const wchar_t* userName, const wchar_t* domain, const wchar_t* password) override;
  DWORD showInvalidPasswordWarning(HWND parent) override;

 private:
  PinentryOptions options_;
};

}  // namespace utils::linuxport
