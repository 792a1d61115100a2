// The current session's account and the checking of its password: who is logged
// on, the password prompt, the logon check and the warning shown for a wrong
// password. On Windows the terminal-services session information, the credential
// prompt, LSA and LogonUserW; on Linux the login session, the pinentry program
// over its Assuan protocol, and PAM.
#pragma once

#include <string>

#include "utils/wintypes.h"

namespace utils::port {

// The account of the caller's session.
struct SessionAccount {
  std::wstring userName;
  std::wstring domain;  // empty where the platform has no domains
};

// What the prompt shows.
struct PasswordPrompt {
  HWND parent = nullptr;              // the prompt is modal to it; may be null
  const wchar_t* caption = nullptr;   // the window title
  const wchar_t* message = nullptr;   // the text above the fields
  const wchar_t* userName = nullptr;  // the only account offered
  ULONG authPackage = 0;              // from authenticationPackage, or 0
};

// The credentials the user entered, in fixed buffers so that the caller can wipe
// the password in place.
struct EnteredCredentials {
  wchar_t userName[100] = {};
  wchar_t domain[100] = {};
  wchar_t password[200] = {};
  DWORD passwordChars = 0;  // with the terminator: 1 for an empty password
};

// The step at which a prompt stopped.
enum class PromptStep {
  kNone,    // the user confirmed; the credentials are unpacked
  kPack,    // the offered account could not be prepared; nothing was shown
  kPrompt,  // the user cancelled (ERROR_CANCELLED) or the prompt failed
  kUnpack,  // the entered credentials could not be unpacked into the buffers
};

class CredentialsPort {
 public:
  virtual ~CredentialsPort() = default;

  // A zeroed record for entered credentials, kept out of core dumps and swap
  // where the platform allows that cheaply; null when no memory is left.
  virtual EnteredCredentials* allocateCredentials() = 0;

  // Wipes the record (a wipe that is not optimised away) and releases it.
  virtual void releaseCredentials(EnteredCredentials* record) = 0;

  // The account of the caller's session. Returns 0 with account filled, or the
  // error.
  virtual DWORD sessionAccount(SessionAccount* account) = 0;

  // The identifier of the named authentication package (an untrusted LSA
  // connection, opened and closed within the call). Returns 0 and the identifier,
  // or the error.
  virtual DWORD authenticationPackage(const char* name, ULONG* id) = 0;

  // Asks the user for the password of prompt.userName and blocks until the prompt
  // closes. Returns 0 with entered filled, or the error with *failedStep naming
  // the failed step (entered then holds nothing secret). Every buffer of the
  // platform's that held the password is wiped before it is released.
  virtual DWORD promptForPassword(const PasswordPrompt& prompt, EnteredCredentials* entered,
                                  PromptStep* failedStep) = 0;

  // Checks the password by an interactive logon of the account, releasing whatever
  // the logon produced. Returns 0 when it succeeds, ERROR_ACCOUNT_RESTRICTION when
  // the account has a blank password that policy refuses for logon, or another
  // error (ERROR_LOGON_FAILURE for a wrong password).
  virtual DWORD logon(const wchar_t* userName, const wchar_t* domain, const wchar_t* password) = 0;

  // Shows the modal "Warning" dialog that says the password is invalid, centred
  // over parent (may be null) and kept on screen, and blocks until the user closes
  // it. Returns 0 or the error when it could not be shown.
  virtual DWORD showInvalidPasswordWarning(HWND parent) = 0;
};

}  // namespace utils::port
