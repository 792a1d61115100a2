// The logon check on Linux: PAM's authentication and account checks for the
// service "utils-unlock" (/etc/pam.d/utils-unlock, installed with the library).
#pragma once

#include "utils/wintypes.h"

namespace utils::linuxport {

inline constexpr const char* kPamService = "utils-unlock";

// Checks password (UTF-8) for user with pam_authenticate and pam_acct_mgmt.
// Returns 0 when both succeed, else ERROR_LOGON_FAILURE. An empty password
// succeeds only where PAM accepts it for that account (pam_unix's nullok for an
// account whose password is empty).
DWORD pamLogon(const char* user, const char* password);

}  // namespace utils::linuxport
