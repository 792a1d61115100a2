// One conversation with a pinentry program over its Assuan protocol on a socket
// pair: the program is started, greets, takes commands and answers each with OK
// or ERR. Every wait is bounded; a program that is missing, dies or stays silent
// ends the conversation as a failure, and the program is always reaped. Lines
// that may carry the PIN are read into secret memory only.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "port/linux/secret_memory.h"

namespace utils::linuxport {

struct PinentryOptions {
  std::string program = "pinentry";  // a name looked up on PATH, or a path
  int setupTimeoutMs = 10000;        // the greeting and the commands that need no user
  int userTimeoutMs = 300000;        // GETPIN and MESSAGE: the user's time
  int exitTimeoutMs = 2000;          // for the program to leave after BYE
};

enum class PinentryAnswer {
  kOk,
  kError,      // ERR: cancelled by the user, or refused
  kFailed,     // no answer in time, a broken line, or the program went away
  kMalformed,  // OK, but the data that came with it does not decode or fit
};

class PinentrySession {
 public:
  // Starts the program and waits for its greeting.
  explicit PinentrySession(PinentryOptions options);
  ~PinentrySession();
  PinentrySession(const PinentrySession&) = delete;
  PinentrySession& operator=(const PinentrySession&) = delete;

  // Whether the program is running and has greeted.
  bool ready() const { return ready_; }
  // The ERR code of the last kError answer.
  unsigned long lastErrorCode() const { return lastError_; }

  // Sends one command line (already escaped) and waits for its OK or ERR.
  PinentryAnswer command(std::string_view line, int timeoutMs);

  // GETPIN: on kOk, pin holds the decoded PIN (UTF-8, not terminated) and
  // *length its size. A PIN that does not decode or fit gives kMalformed.
  PinentryAnswer getPin(SecretBuffer& pin, size_t* length);

 private:
  enum class Line { kOk, kError, kData, kOther, kFailed };
  bool start();
  bool sendLine(std::string_view line, long long deadline);
  // Reads the next line into line_; *text and *size describe its rest.
  Line readLine(long long deadline, const char** text, size_t* size);
  void dropLine();
  void finish();

  PinentryOptions options_;
  int socket_ = -1;
  pid_t child_ = -1;
  bool ready_ = false;
  unsigned long lastError_ = 0;
  SecretBuffer buffer_;  // bytes received and not yet consumed
  size_t buffered_ = 0;
  size_t lineLength_ = 0;  // the current line, with its LF, at the buffer's start
};

}  // namespace utils::linuxport
