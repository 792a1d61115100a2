// The logon check on Linux: PAM's authentication and account checks for the
// service "utils-unlock" (/etc/pam.d/utils-unlock, installed with the library).
#pragma once

#include "utils/wintypes.h"

namespace utils::linuxport {

inline constexpr const char* kPamService = "utils-unlock";

// Checks password (UTF-8) for user with pam_authenticate and pam_acct_mgmt.
// Returns 0 when both succeed and ERROR_LOGON_FAILURE when the password is not
// accepted. When it is but pam_acct_mgmt refuses the account, the answer says
// why as a logon does on Windows: ERROR_ACCOUNT_EXPIRED, ERROR_PASSWORD_EXPIRED
// (a new password is required), else ERROR_ACCOUNT_RESTRICTION (a policy: the
// service, the time, the place). An empty password is accepted only where PAM
// accepts it for that account (pam_unix's nullok for an account whose password
// is empty).
DWORD pamLogon(const char* user, const char* password);

}  // namespace utils::linuxport
