// RegistryFile: SQLite's whole-file checks. Opening a file runs none of them, so
// opening costs the same for a file of any size. The full check runs on request;
// the quick check runs once per process, before its first write.
#include "port/linux/registry_file.h"

namespace utils::linuxport {

// Runs an integrity pragma; its findings go to report ("ok" when none).
DWORD RegistryFile::runCheck(const char* pragma, std::string* report) {
  report->clear();
  sqlite::Statement check;
  if (const int rc = connection_.prepare(pragma, &check, false)) return fromSqlite(rc);
  int rc;
  while ((rc = check.step()) == sqlite::kRow) {
    if (!report->empty()) report->push_back('\n');
    report->append(check.columnText(0));
  }
  if (rc != sqlite::kDone) return fromSqlite(rc);
  if (*report == "ok") return ERROR_SUCCESS;
  damaged_ = true;
  return ERROR_REGISTRY_CORRUPT;
}

DWORD RegistryFile::checkIntegrity(std::string* report) {
  std::lock_guard lock(mutex_);
  report->clear();
  if (const DWORD error = ensureOpen(false)) return error;
  if (!hasData()) {
    *report = "ok";
    return ERROR_SUCCESS;
  }
  return runCheck("PRAGMA integrity_check", report);
}

// SQLite notices damage only in the pages a statement reads, and a write reads
// few: on a file with overwritten pages elsewhere it would succeed and build on
// the damage. So before this process's first write the quick check walks every
// page once (it skips only the full check's index-against-table comparison).
// It costs time in proportion to the file, once per writing process, never at
// open and never for a process that only reads.
DWORD RegistryFile::checkBeforeFirstWrite() {
  if (checkedForWrite_) return ERROR_SUCCESS;
  std::string report;
  if (const DWORD error = runCheck("PRAGMA quick_check", &report)) return error;
  checkedForWrite_ = true;
  return ERROR_SUCCESS;
}

}  // namespace utils::linuxport
