#include "port/linux/linux_credentials.h"

#include <string.h>
#include <sys/auxv.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <string>

#include "common/utf16.h"
#include "port/linux/assuan_text.h"
#include "port/linux/pam_logon.h"
#include "port/linux/secret_memory.h"
#include "port/linux/session_user.h"

namespace utils::linuxport {
namespace {

constexpr const char* kWarningTitle = "Warning";
constexpr const char* kWarningText = "  Invalid  password !";

// The record sits at the start of secret pages that remember their own size.
struct SecretRecord {
  SecretBuffer pages;
  port::EnteredCredentials* record() { return reinterpret_cast<port::EnteredCredentials*>(pages.data()); }
};

// Sets a text of the dialog; false when the program refused or went away.
bool setText(PinentrySession& session, const char* command, std::string_view text, int timeoutMs) {
  return session.command(std::string(command) + " " + assuanEscape(text), timeoutMs) == PinentryAnswer::kOk;
}

// The password as UTF-8 in secret memory, terminated.
SecretBuffer passwordUtf8(const wchar_t* password) {
  const size_t chars = wcslen(password);
  SecretBuffer out(chars * 4 + 1);
  if (out.empty()) return out;
  char* at = out.data();
  for (size_t i = 0; i < chars; ++i) {
    auto value = static_cast<uint32_t>(password[i]);
    if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) value = 0xFFFD;
    if (value < 0x80) {
      *at++ = static_cast<char>(value);
    } else if (value < 0x800) {
      *at++ = static_cast<char>(0xC0 | (value >> 6));
      *at++ = static_cast<char>(0x80 | (value & 0x3F));
    } else if (value < 0x10000) {
      *at++ = static_cast<char>(0xE0 | (value >> 12));
      *at++ = static_cast<char>(0x80 | ((value >> 6) & 0x3F));
      *at++ = static_cast<char>(0x80 | (value & 0x3F));
    } else {
      *at++ = static_cast<char>(0xF0 | (value >> 18));
      *at++ = static_cast<char>(0x80 | ((value >> 12) & 0x3F));
      *at++ = static_cast<char>(0x80 | ((value >> 6) & 0x3F));
      *at++ = static_cast<char>(0x80 | (value & 0x3F));
    }
  }
  *at = '\0';
  return out;
}

}  // namespace

std::string pinentryProgram(bool privileged, const char* configured) {
  if (privileged) return "/usr/bin/pinentry";
  if (configured != nullptr && configured[0] != '\0') return configured;
  return "pinentry";
}

LinuxCredentials::LinuxCredentials() {
  options_.program = pinentryProgram(getauxval(AT_SECURE) != 0, ::secure_getenv("UTILS_PINENTRY"));
}

port::EnteredCredentials* LinuxCredentials::allocateCredentials() {
  // The pages hold the owner too, so releasing needs nothing but the record.
  SecretBuffer pages(sizeof(SecretRecord) + sizeof(port::EnteredCredentials));
  if (pages.empty()) return nullptr;
  char* base = pages.data();
  new (base) SecretRecord{std::move(pages)};
  static_assert(alignof(port::EnteredCredentials) <= alignof(SecretRecord));
  return new (base + sizeof(SecretRecord)) port::EnteredCredentials{};
}

void LinuxCredentials::releaseCredentials(port::EnteredCredentials* record) {
  if (record == nullptr) return;
  explicit_bzero(record, sizeof *record);
  auto* owner = reinterpret_cast<SecretRecord*>(reinterpret_cast<char*>(record) - sizeof(SecretRecord));
  SecretBuffer pages = std::move(owner->pages);
  owner->~SecretRecord();
  // pages wipes and unmaps everything, itself included, as it goes.
}

DWORD LinuxCredentials::sessionAccount(port::SessionAccount* account) {
  std::string name;
  if (const DWORD error = sessionUserName(&name)) return error;
  account->userName = utf8ToWide(name);
  account->domain.clear();
  return ERROR_SUCCESS;
}

DWORD LinuxCredentials::authenticationPackage(const char*, ULONG* id) {
  // No authentication packages here: PAM's configuration chooses the modules.
  *id = 0;
  return ERROR_NOT_SUPPORTED;
}

DWORD LinuxCredentials::promptForPassword(const port::PasswordPrompt& prompt, port::EnteredCredentials* entered,
                                          port::PromptStep* failedStep) {
  *failedStep = port::PromptStep::kPrompt;
  PinentrySession session(options_);
  if (!session.ready()) return ERROR_GEN_FAILURE;
  const int setup = options_.setupTimeoutMs;
  // The program gives up by itself a little before we do.
  const int seconds = std::max(1, options_.userTimeoutMs / 1000 - 1);
  if (!setText(session, "SETTITLE", wideToUtf8(prompt.caption != nullptr ? prompt.caption : L""), setup) ||
      !setText(session, "SETDESC", wideToUtf8(prompt.message != nullptr ? prompt.message : L""), setup) ||
      session.command("SETTIMEOUT " + std::to_string(seconds), setup) == PinentryAnswer::kFailed) {
    return ERROR_GEN_FAILURE;
  }
  SecretBuffer pin;
  size_t length = 0;
  const PinentryAnswer answer = session.getPin(pin, &length);
  if (answer == PinentryAnswer::kError) return ERROR_CANCELLED;
  if (answer == PinentryAnswer::kFailed) return ERROR_GEN_FAILURE;
  const auto chars = answer == PinentryAnswer::kOk
                         ? utf8ToWideBuffer(pin.data(), length, entered->password, std::size(entered->password))
                         : std::nullopt;
  if (!chars) {
    explicit_bzero(entered->password, sizeof entered->password);
    *failedStep = port::PromptStep::kUnpack;
    return ERROR_INVALID_DATA;
  }
  const std::wstring user = prompt.userName != nullptr ? prompt.userName : L"";
  const size_t userChars = std::min(user.size(), std::size(entered->userName) - 1);
  std::copy_n(user.c_str(), userChars, entered->userName);
  entered->userName[userChars] = L'\0';
  entered->domain[0] = L'\0';
  entered->passwordChars = static_cast<DWORD>(*chars + 1);
  *failedStep = port::PromptStep::kNone;
  return ERROR_SUCCESS;
}

DWORD LinuxCredentials::logon(const wchar_t* userName, const wchar_t*, const wchar_t* password) {
  const std::string user = wideToUtf8(userName);
  SecretBuffer secret = passwordUtf8(password);
  if (secret.empty()) return ERROR_NOT_ENOUGH_MEMORY;
  return pamLogon(user.c_str(), secret.data());
}

DWORD LinuxCredentials::showInvalidPasswordWarning(HWND) {
  PinentrySession session(options_);
  if (!session.ready()) return ERROR_GEN_FAILURE;
  const int setup = options_.setupTimeoutMs;
  if (!setText(session, "SETTITLE", kWarningTitle, setup) || !setText(session, "SETDESC", kWarningText, setup)) {
    return ERROR_GEN_FAILURE;
  }
  return session.command("MESSAGE", options_.userTimeoutMs) == PinentryAnswer::kOk ? ERROR_SUCCESS : ERROR_GEN_FAILURE;
}

}  // namespace utils::linuxport
