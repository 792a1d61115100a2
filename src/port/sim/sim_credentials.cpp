#include "port/sim/sim_credentials.h"

#include <algorithm>

namespace utils::sim {

port::EnteredCredentials* SimCredentials::allocateCredentials() {
  std::lock_guard lock(mutex_);
  if (failAllocation_) return nullptr;
  records_.push_back(std::make_unique<port::EnteredCredentials>());
  ++liveRecords_;
  return records_.back().get();
}

void SimCredentials::releaseCredentials(port::EnteredCredentials* record) {
  std::lock_guard lock(mutex_);
  const auto* bytes = reinterpret_cast<const unsigned char*>(record);
  const bool wiped = std::all_of(bytes, bytes + sizeof *record, [](unsigned char b) { return b == 0; });
  released_.push_back({record, wiped});
  --liveRecords_;
}

DWORD SimCredentials::sessionAccount(port::SessionAccount* account) {
  std::lock_guard lock(mutex_);
  if (sessionError_ != 0) return sessionError_;
  account->userName = userName_;
  account->domain = domain_;
  return 0;
}

DWORD SimCredentials::authenticationPackage(const char* name, ULONG* id) {
  std::lock_guard lock(mutex_);
  packagesAsked_.emplace_back(name);
  if (packageError_ != 0) return packageError_;
  *id = package_;
  return 0;
}

DWORD SimCredentials::promptForPassword(const port::PasswordPrompt& prompt, port::EnteredCredentials* entered,
                                        port::PromptStep* failedStep) {
  std::lock_guard lock(mutex_);
  prompts_.push_back({prompt.parent, prompt.caption, prompt.message, prompt.userName, prompt.authPackage});
  if (entry_.error != 0) {
    *failedStep = entry_.failedStep;
    return entry_.error;
  }
  *failedStep = port::PromptStep::kNone;
  const size_t chars = std::min(entry_.password.size(), std::size(entered->password) - 1);
  std::copy_n(entry_.password.c_str(), chars, entered->password);
  entered->password[chars] = L'\0';
  std::copy_n(userName_.c_str(), std::min(userName_.size(), std::size(entered->userName) - 1), entered->userName);
  entered->passwordChars = entry_.passwordChars != 0 ? entry_.passwordChars : static_cast<DWORD>(chars + 1);
  return 0;
}

DWORD SimCredentials::logon(const wchar_t* userName, const wchar_t* domain, const wchar_t* password) {
  std::lock_guard lock(mutex_);
  logons_.push_back({userName, domain, password});
  if (userName_ != userName || domain_ != domain || accountPassword_ != password) return ERROR_LOGON_FAILURE;
  if (accountPassword_.empty() && blankRefused_) return ERROR_ACCOUNT_RESTRICTION;
  return 0;
}

DWORD SimCredentials::showInvalidPasswordWarning(HWND parent) {
  std::lock_guard lock(mutex_);
  warnings_.push_back(parent);
  return 0;
}

void SimCredentials::setAccount(const std::wstring& userName, const std::wstring& domain, DWORD sessionError) {
  std::lock_guard lock(mutex_);
  userName_ = userName;
  domain_ = domain;
  sessionError_ = sessionError;
}

void SimCredentials::setPackage(ULONG id, DWORD packageError) {
  std::lock_guard lock(mutex_);
  package_ = id;
  packageError_ = packageError;
}

void SimCredentials::setEntry(const Entry& entry) {
  std::lock_guard lock(mutex_);
  entry_ = entry;
}

void SimCredentials::setAccountPassword(const std::wstring& password, bool blankRefused) {
  std::lock_guard lock(mutex_);
  accountPassword_ = password;
  blankRefused_ = blankRefused;
}

void SimCredentials::failAllocation(bool fail) {
  std::lock_guard lock(mutex_);
  failAllocation_ = fail;
}

std::vector<std::string> SimCredentials::packagesAsked() const {
  std::lock_guard lock(mutex_);
  return packagesAsked_;
}

std::vector<SimCredentials::PromptSeen> SimCredentials::prompts() const {
  std::lock_guard lock(mutex_);
  return prompts_;
}

std::vector<SimCredentials::LogonSeen> SimCredentials::logons() const {
  std::lock_guard lock(mutex_);
  return logons_;
}

std::vector<HWND> SimCredentials::warnings() const {
  std::lock_guard lock(mutex_);
  return warnings_;
}

std::vector<SimCredentials::Released> SimCredentials::released() const {
  std::lock_guard lock(mutex_);
  return released_;
}

int SimCredentials::liveRecords() const {
  std::lock_guard lock(mutex_);
  return liveRecords_;
}

}  // namespace utils::sim
