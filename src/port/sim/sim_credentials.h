// A simulated session, prompt, logon and warning: the test sets the account, what
// the user "enters", which passwords the logon accepts, and reads back what was
// asked. Credential records stay allocated until the simulation ends, so a test
// can check that they were wiped.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "port/credentials_port.h"

namespace utils::sim {

class SimCredentials : public port::CredentialsPort {
 public:
  // What the next prompt does.
  struct Entry {
    DWORD error = 0;  // non-zero: the prompt stops at failedStep
    port::PromptStep failedStep = port::PromptStep::kNone;
    std::wstring password;
    DWORD passwordChars = 0;  // 0: the password's length plus the terminator
  };
  // What one prompt was shown.
  struct PromptSeen {
    HWND parent = nullptr;
    std::wstring caption, message, userName;
    ULONG authPackage = 0;
  };
  struct LogonSeen {
    std::wstring userName, domain, password;
  };
  // One released record: whether every byte was zero when it came back.
  struct Released {
    const port::EnteredCredentials* record;
    bool wiped;
  };

  port::EnteredCredentials* allocateCredentials() override;
  void releaseCredentials(port::EnteredCredentials* record) override;
  DWORD sessionAccount(port::SessionAccount* account) override;
  DWORD authenticationPackage(const char* name, ULONG* id) override;
  DWORD promptForPassword(const port::PasswordPrompt& prompt, port::EnteredCredentials* entered,
                          port::PromptStep* failedStep) override;
  DWORD logon(const wchar_t* userName, const wchar_t* domain, const wchar_t* password) override;
  DWORD showInvalidPasswordWarning(HWND parent) override;

  // sessionError non-zero: the session cannot be read.
  void setAccount(const std::wstring& userName, const std::wstring& domain, DWORD sessionError = 0);
  // packageError non-zero: the lookup fails.
  void setPackage(ULONG id, DWORD packageError = 0);
  void setEntry(const Entry& entry);
  // The password the logon accepts for the session's account; blankRefused: an
  // empty password is the account's own but policy refuses it (1327).
  void setAccountPassword(const std::wstring& password, bool blankRefused = false);
  void failAllocation(bool fail);

  std::vector<std::string> packagesAsked() const;
  std::vector<PromptSeen> prompts() const;
  std::vector<LogonSeen> logons() const;
  std::vector<HWND> warnings() const;
  std::vector<Released> released() const;
  int liveRecords() const;

 private:
  mutable std::mutex mutex_;
  std::wstring userName_ = L"alice";
  std::wstring domain_ = L"WORKGROUP";
  DWORD sessionError_ = 0;
  ULONG package_ = 0;
  DWORD packageError_ = 0;
  Entry entry_;
  std::wstring accountPassword_;
  bool blankRefused_ = false;
  bool failAllocation_ = false;
  std::vector<std::unique_ptr<port::EnteredCredentials>> records_;
  int liveRecords_ = 0;
  std::vector<std::string> packagesAsked_;
  std::vector<PromptSeen> prompts_;
  std::vector<LogonSeen> logons_;
  std::vector<HWND> warnings_;
  std::vector<Released> released_;
};

}  // namespace utils::sim
