#include "port/linux/pam_logon.h"

#include <security/pam_appl.h>
#include <string.h>

#include <cstdlib>

namespace utils::linuxport {
namespace {

// Answers PAM's questions without a user: the password for a hidden prompt, the
// user name for a visible one, nothing for messages. PAM frees the answers (and
// wipes the password it reads).
int converse(int count, const pam_message** messages, pam_response** responses, void* data) {
  if (count <= 0 || count > PAM_MAX_NUM_MSG) return PAM_CONV_ERR;
  auto* answers = static_cast<pam_response*>(std::calloc(static_cast<size_t>(count), sizeof(pam_response)));
  if (answers == nullptr) return PAM_BUF_ERR;
  const auto* credentials = static_cast<const char* const*>(data);
  for (int i = 0; i < count; ++i) {
    const char* text = nullptr;
    switch (messages[i]->msg_style) {
      case PAM_PROMPT_ECHO_OFF: text = credentials[1]; break;
      case PAM_PROMPT_ECHO_ON: text = credentials[0]; break;
      default: continue;
    }
    answers[i].resp = strdup(text);
    if (answers[i].resp == nullptr) {
      for (int k = 0; k < i; ++k) {
        if (answers[k].resp != nullptr) explicit_bzero(answers[k].resp, strlen(answers[k].resp));
        std::free(answers[k].resp);
      }
      std::free(answers);
      return PAM_BUF_ERR;
    }
  }
  *responses = answers;
  return PAM_SUCCESS;
}

}  // namespace

DWORD pamLogon(const char* user, const char* password) {
  const char* credentials[2] = {user, password};
  const pam_conv conversation{&converse, credentials};
  pam_handle_t* handle = nullptr;
  if (pam_start(kPamService, user, &conversation, &handle) != PAM_SUCCESS) return ERROR_LOGON_FAILURE;
  int status = pam_authenticate(handle, PAM_SILENT);
  const bool authenticated = status == PAM_SUCCESS;
  if (authenticated) status = pam_acct_mgmt(handle, PAM_SILENT);
  pam_end(handle, status);
  if (status == PAM_SUCCESS) return ERROR_SUCCESS;
  if (!authenticated) return ERROR_LOGON_FAILURE;
  switch (status) {
    case PAM_ACCT_EXPIRED: return ERROR_ACCOUNT_EXPIRED;
    case PAM_NEW_AUTHTOK_REQD: return ERROR_PASSWORD_EXPIRED;
    case PAM_USER_UNKNOWN: return ERROR_LOGON_FAILURE;
    default: return ERROR_ACCOUNT_RESTRICTION;
  }
}

}  // namespace utils::linuxport
