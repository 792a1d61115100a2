// Runs a piece of a test in a child process and tells how the child ended: for
// what may kill or stop a process (SIGPIPE, a blocking write, a save that dies
// half-way) and for what must run as another user.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace utils::testing {

struct ChildOptions {
  bool standardErrorPipe = false;  // standard error is a pipe, read after the child ended
  bool readerGone = false;         // ... whose read end is closed before the child starts
  bool asOtherUser = false;        // as nobody when the test runs as root
};

struct ChildEnd {
  int code = -1;   // the exit code; -1 when killed
  int signal = 0;  // the signal that killed it
  std::string standardError;
};

// body's result is the child's exit code. SIGPIPE is at its default action and
// an alarm ends a child that blocks.
inline ChildEnd runChild(const std::function<int()>& body, ChildOptions options = {}) {
  int fds[2] = {-1, -1};
  if (options.standardErrorPipe && ::pipe(fds) != 0) return {};
  if (options.readerGone) ::close(fds[0]);
  const pid_t child = ::fork();
  if (child == 0) {
    ::signal(SIGPIPE, SIG_DFL);
    ::alarm(20);
    if (options.standardErrorPipe) ::dup2(fds[1], 2);
    constexpr uid_t kNobody = 65534;
    if (options.asOtherUser && ::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
         ::setresuid(kNobody, kNobody, kNobody) != 0)) {
      ::_exit(100);
    }
    ::_exit(body());
  }
  ChildEnd end;
  if (options.standardErrorPipe) ::close(fds[1]);
  int status = 0;
  if (child > 0 && ::waitpid(child, &status, 0) == child) {
    end.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    end.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  }
  if (options.standardErrorPipe && !options.readerGone) {
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    char buffer[4096];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) end.standardError.append(buffer, size_t(n));
    ::close(fds[0]);
  }
  return end;
}

}  // namespace utils::testing
