#include "port/linux/registry_sqlite.h"

#include <sqlite3.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <mutex>
#include <thread>
#include <utility>

namespace utils::linuxport::sqlite {

static_assert(kOk == SQLITE_OK && kError == SQLITE_ERROR && kPerm == SQLITE_PERM && kBusy == SQLITE_BUSY);
static_assert(kLocked == SQLITE_LOCKED && kNoMem == SQLITE_NOMEM && kReadOnly == SQLITE_READONLY);
static_assert(kIoErr == SQLITE_IOERR && kCorrupt == SQLITE_CORRUPT && kFull == SQLITE_FULL);
static_assert(kCantOpen == SQLITE_CANTOPEN && kNotADb == SQLITE_NOTADB);
static_assert(kRow == SQLITE_ROW && kDone == SQLITE_DONE);

namespace {

struct Fault {
  int code = 0;
  int skip = 0;
  int remaining = 0;  // -1: every call
};

// Process-wide fault table for tests. `armed` keeps the untested path to one
// relaxed load.
struct FaultTable {
  std::atomic<bool> armed{false};
  std::mutex mutex;
  std::array<Fault, 4> faults{};  // GUARDED_BY(mutex), indexed by Call
  int failures = 0;               // GUARDED_BY(mutex)
  std::string hookSql;            // GUARDED_BY(mutex)
  std::function<void()> hook;     // GUARDED_BY(mutex)
};

FaultTable& faultTable() {
  static FaultTable table;
  return table;
}

// The injected result for this call of `call`, or kOk to go ahead.
int injected(Call call) {
  FaultTable& table = faultTable();
  if (!table.armed.load(std::memory_order_relaxed)) return kOk;
  std::lock_guard lock(table.mutex);
  Fault& fault = table.faults[static_cast<size_t>(call)];
  if (fault.remaining == 0) return kOk;
  if (fault.skip > 0) {
    --fault.skip;
    return kOk;
  }
  if (fault.remaining > 0) --fault.remaining;
  ++table.failures;
  return fault.code;
}

// Runs the exec hook when sql is its statement. Taken out of the table first:
// the action may exec on another connection, and must run once.
void runExecHook(const char* sql) {
  FaultTable& table = faultTable();
  if (!table.armed.load(std::memory_order_relaxed)) return;
  std::function<void()> action;
  {
    std::lock_guard lock(table.mutex);
    if (!table.hook || table.hookSql != sql) return;
    action = std::move(table.hook);
    table.hook = nullptr;
  }
  action();
}

}  // namespace

void injectFault(Call call, int code, int count, int skip) {
  FaultTable& table = faultTable();
  std::lock_guard lock(table.mutex);
  table.faults[static_cast<size_t>(call)] = Fault{code, skip, count == 0 ? -1 : count};
  table.armed.store(true, std::memory_order_relaxed);
}

void clearFaults() {
  FaultTable& table = faultTable();
  std::lock_guard lock(table.mutex);
  table.faults = {};
  table.failures = 0;
  table.hook = nullptr;
  table.armed.store(false, std::memory_order_relaxed);
}

void beforeNextExec(std::string sql, std::function<void()> action) {
  FaultTable& table = faultTable();
  std::lock_guard lock(table.mutex);
  table.hookSql = std::move(sql);
  table.hook = std::move(action);
  table.armed.store(true, std::memory_order_relaxed);
}

int injectedFailures() {
  FaultTable& table = faultTable();
  std::lock_guard lock(table.mutex);
  return table.failures;
}

Connection::~Connection() { close(); }

int Connection::open(const std::string& path, bool create) {
  close();
  if (const int fault = injected(Call::Open)) return fault;
  // Each connection is used under its owner's mutex, so SQLite's own per-call
  // mutex is not needed.
  // NOFOLLOW: a symbolic link planted at the path is refused, not followed.
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_PRIVATECACHE | SQLITE_OPEN_NOFOLLOW;
  if (create) flags |= SQLITE_OPEN_CREATE;
  const int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    const int code = (db_ != nullptr) ? sqlite3_extended_errcode(db_) : rc;
    sqlite3_close(db_);
    db_ = nullptr;
    return code;
  }
  sqlite3_extended_result_codes(db_, 1);
  jitter_ = (reinterpret_cast<uintptr_t>(this) ^ (static_cast<uint64_t>(::getpid()) << 32)) | 1;
  sqlite3_busy_handler(db_, &Connection::waitWhileBusy, this);
  // No writes to the schema tables, no triggers or views from the file run with
  // our rights: a file from elsewhere cannot make us damage it.
  sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  sqlite3_db_config(db_, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
  return SQLITE_OK;
}

// SQLite's default handler sleeps up to 100 ms between tries. A process that
// commits in a loop leaves gaps of about a millisecond between its locks, which
// such sleepers keep missing until they time out. Short, jittered sleeps (50 us
// to 1 ms) find those gaps, so writers take turns.
int Connection::waitWhileBusy(void* self, int attempts) {
  auto* connection = static_cast<Connection*>(self);
  const auto now = std::chrono::steady_clock::now();
  if (attempts == 0) connection->busySince_ = now;
  if (now - connection->busySince_ >= std::chrono::milliseconds(kBusyTimeoutMs)) return 0;
  uint64_t& x = connection->jitter_;  // xorshift
  x ^= x << 13;
  x ^= x >> 7;
  x ^= x << 17;
  const uint64_t ceiling = attempts < 10 ? 100u * static_cast<uint64_t>(attempts + 1) : 1000u;
  std::this_thread::sleep_for(std::chrono::microseconds(50 + x % ceiling));
  return 1;
}

void Connection::close() {
  if (db_ == nullptr) return;
  sqlite3_close_v2(db_);
  db_ = nullptr;
}

bool Connection::readOnly() const { return db_ != nullptr && sqlite3_db_readonly(db_, "main") == 1; }

int Connection::exec(const char* sql) {
  if (const int fault = injected(Call::Exec)) return fault;
  runExecHook(sql);
  return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
}

int Connection::prepare(const char* sql, Statement* out, bool persistent) {
  out->finalize();
  if (const int fault = injected(Call::Prepare)) return fault;
  return sqlite3_prepare_v3(db_, sql, -1, persistent ? SQLITE_PREPARE_PERSISTENT : 0, &out->stmt_, nullptr);
}

void Connection::rollback() {
  if (inTransaction()) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

int64_t Connection::lastInsertRowid() const { return sqlite3_last_insert_rowid(db_); }

int64_t Connection::changes() const { return sqlite3_changes64(db_); }

bool Connection::inTransaction() const { return db_ != nullptr && sqlite3_get_autocommit(db_) == 0; }

int Connection::systemErrno() const { return db_ != nullptr ? sqlite3_system_errno(db_) : 0; }

std::string Connection::errorMessage() const { return db_ != nullptr ? sqlite3_errmsg(db_) : "not open"; }

Statement::~Statement() { finalize(); }

void Statement::finalize() {
  sqlite3_finalize(stmt_);
  stmt_ = nullptr;
}

int Statement::bindInt64(int index, int64_t value) { return sqlite3_bind_int64(stmt_, index, value); }

int Statement::bindText(int index, std::string_view text) {
  // A null pointer would bind SQL NULL; an empty name is an empty text.
  static constexpr char kEmpty[] = "";
  return sqlite3_bind_text64(stmt_, index, text.empty() ? kEmpty : text.data(), text.size(), SQLITE_STATIC,
                             SQLITE_UTF8);
}

int Statement::bindBlob(int index, const void* data, size_t size) {
  if (size == 0) return sqlite3_bind_zeroblob(stmt_, index, 0);  // empty, not NULL
  return sqlite3_bind_blob64(stmt_, index, data, size, SQLITE_STATIC);
}

int Statement::step() {
  if (const int fault = injected(Call::Step)) return fault;
  return sqlite3_step(stmt_);
}

void Statement::reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

int64_t Statement::columnInt64(int column) const { return sqlite3_column_int64(stmt_, column); }

bool Statement::columnIsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

std::string_view Statement::columnText(int column) const {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
  if (text == nullptr) return {};
  return {text, static_cast<size_t>(sqlite3_column_bytes(stmt_, column))};
}

const unsigned char* Statement::columnBlob(int column, size_t* size) const {
  const auto* data = static_cast<const unsigned char*>(sqlite3_column_blob(stmt_, column));
  *size = static_cast<size_t>(sqlite3_column_bytes(stmt_, column));
  return data;
}

}  // namespace utils::linuxport::sqlite
