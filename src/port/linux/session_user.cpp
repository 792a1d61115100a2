#include "port/linux/session_user.h"

#include <pwd.h>
#include <systemd/sd-login.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace utils::linuxport {
namespace {

// The login session's user, when the process belongs to one.
bool sessionUid(uid_t* uid) {
  char* session = nullptr;
  if (sd_pid_get_session(0, &session) < 0 || session == nullptr) return false;
  const bool found = sd_session_get_uid(session, uid) >= 0;
  std::free(session);
  return found;
}

}  // namespace

DWORD sessionUserName(std::string* name) {
  uid_t uid = 0;
  if (!sessionUid(&uid)) uid = getuid();
  std::vector<char> scratch(16384);
  passwd entry{};
  passwd* result = nullptr;
  if (getpwuid_r(uid, &entry, scratch.data(), scratch.size(), &result) != 0 || result == nullptr ||
      result->pw_name == nullptr || result->pw_name[0] == '\0') {
    return ERROR_NOT_FOUND;
  }
  *name = result->pw_name;
  return ERROR_SUCCESS;
}

}  // namespace utils::linuxport
