// The account of the caller's session on Linux: the user of the login session
// (sd-login), or the process's real user outside any session.
#pragma once

#include <string>

#include "utils/wintypes.h"

namespace utils::linuxport {

// The user name, or the error (ERROR_NO_SUCH_USER-like failures as
// ERROR_NOT_FOUND) with name untouched.
DWORD sessionUserName(std::string* name);

}  // namespace utils::linuxport
