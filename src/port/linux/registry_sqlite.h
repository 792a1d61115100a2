// The registry store's only way into SQLite: a connection and a statement class
// whose calls all pass through a few narrow functions. A test can make the next
// calls of one of them fail with a chosen SQLite result code, as SQLite's own
// replaceable system calls allow. sqlite3.h stays inside the .cpp file.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace utils::linuxport::sqlite {

// SQLite primary result codes that the store and its tests name.
inline constexpr int kOk = 0;
inline constexpr int kError = 1;
inline constexpr int kPerm = 3;
inline constexpr int kBusy = 5;
inline constexpr int kLocked = 6;
inline constexpr int kNoMem = 7;
inline constexpr int kReadOnly = 8;
inline constexpr int kIoErr = 10;
inline constexpr int kCorrupt = 11;
inline constexpr int kFull = 13;
inline constexpr int kCantOpen = 14;
inline constexpr int kNotADb = 26;
inline constexpr int kRow = 100;
inline constexpr int kDone = 101;

// The narrow functions that fault injection can break.
enum class Call { Open, Prepare, Step, Exec };

// After `skip` more calls of `call` pass, the following `count` calls (0: every
// call from then on) fail with `code` without reaching SQLite. Process-wide; for
// tests only.
void injectFault(Call call, int code, int count = 1, int skip = 0);
// Removes every injected fault.
void clearFaults();
// How many calls failed by injection since the last clearFaults.
int injectedFailures();
// Runs action once, just before the next exec of exactly sql reaches SQLite, so a
// test can act at a chosen moment (another connection taking the lock or making
// the tables first). clearFaults removes it too. Process-wide; for tests only.
void beforeNextExec(std::string sql, std::function<void()> action);

class Statement;

// One database connection, used by one thread at a time (the caller serialises).
class Connection {
 public:
  // How long a call waits for another connection's lock before it gives up with
  // SQLITE_BUSY.
  static constexpr int kBusyTimeoutMs = 10000;

  Connection() = default;
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Opens the file read-write, falling back to read-only when the file is not
  // writable; create: makes the file when it is missing. Returns a result code.
  int open(const std::string& path, bool create);
  void close();
  bool isOpen() const { return db_ != nullptr; }
  // True when SQLite could open the file for reading only.
  bool readOnly() const;

  // Runs SQL that returns no rows.
  int exec(const char* sql);
  // Compiles one statement; persistent: kept for the life of the connection.
  int prepare(const char* sql, Statement* out, bool persistent = true);

  // Rolls back an open transaction. Never failed by injection: it is the clean-up
  // path, and SQLite rolls back by itself if it cannot.
  void rollback();

  int64_t lastInsertRowid() const;
  // Rows changed by the last INSERT, UPDATE or DELETE.
  int64_t changes() const;
  bool inTransaction() const;
  // errno of the last failed system call, 0 when none.
  int systemErrno() const;
  std::string errorMessage() const;

 private:
  static int waitWhileBusy(void* self, int attempts);

  sqlite3* db_ = nullptr;
  std::chrono::steady_clock::time_point busySince_;
  uint64_t jitter_ = 0;
};

// A compiled statement. Bound text and blobs are not copied: they must stay valid
// until reset().
class Statement {
 public:
  Statement() = default;
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool isPrepared() const { return stmt_ != nullptr; }
  int bindInt64(int index, int64_t value);
  int bindText(int index, std::string_view text);
  int bindBlob(int index, const void* data, size_t size);
  // kRow, kDone or an error code.
  int step();
  // Ends the current run (releasing its locks when outside a transaction) and
  // clears the bindings.
  void reset();
  void finalize();

  int64_t columnInt64(int column) const;
  bool columnIsNull(int column) const;
  std::string_view columnText(int column) const;
  // Pointer and size of a blob column (the pointer may be null for an empty blob).
  const unsigned char* columnBlob(int column, size_t* size) const;

 private:
  friend class Connection;
  sqlite3_stmt* stmt_ = nullptr;
};

// Resets a statement when leaving a scope, so no run keeps a lock by accident.
class StatementRun {
 public:
  explicit StatementRun(Statement& statement) : statement_(statement) {}
  ~StatementRun() { statement_.reset(); }
  StatementRun(const StatementRun&) = delete;
  StatementRun& operator=(const StatementRun&) = delete;
  Statement* operator->() { return &statement_; }
  Statement& get() { return statement_; }

 private:
  Statement& statement_;
};

// The primary code (low 8 bits) of an extended result code.
inline int primaryCode(int code) { return code & 0xFF; }

}  // namespace utils::linuxport::sqlite
