// Helpers shared by the registry store's integration tests: temporary folders,
// a scratch-store fixture, file contents, values and forked helper processes.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "port/linux/registry_sqlite.h"
#include "port/linux/registry_store.h"
#include "utils/wintypes.h"

namespace registry_test {

// The names every registry store test uses, for the tests written inside this
// namespace.
using utils::linuxport::RegistryStore;
using utils::port::ScopedKey;
namespace sqlite = utils::linuxport::sqlite;

// A folder under $TMPDIR (or /tmp), removed with everything in it.
class TempFolder {
 public:
  TempFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/utils-registry-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// Runs SQL on the file at path (made if missing) with SQLite itself.
inline bool runSql(const std::string& path, const char* sql) {
  utils::linuxport::sqlite::Connection connection;
  return connection.open(path, true) == utils::linuxport::sqlite::kOk &&
         connection.exec(sql) == utils::linuxport::sqlite::kOk;
}

inline DWORD setDword(utils::port::RegistryPort& registry, HKEY key, const wchar_t* name, DWORD value) {
  BYTE bytes[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
                   static_cast<BYTE>(value >> 24)};
  return registry.setValue(key, name, REG_DWORD, bytes, 4);
}

inline DWORD getDword(utils::port::RegistryPort& registry, HKEY key, const wchar_t* name, DWORD* value) {
  BYTE bytes[4] = {};
  DWORD size = 4;
  DWORD type = 0;
  const DWORD error = registry.queryValue(key, name, &type, bytes, &size);
  if (error == ERROR_SUCCESS && (size != 4 || type != REG_DWORD)) return ERROR_INVALID_DATA;
  *value = DWORD{bytes[0]} | (DWORD{bytes[1]} << 8) | (DWORD{bytes[2]} << 16) | (DWORD{bytes[3]} << 24);
  return error;
}

// Opens subKey below root, reads a DWORD and closes the key (what
// GetRegisterDWORD does).
inline DWORD readDwordAt(utils::port::RegistryPort& registry, HKEY root, const wchar_t* subKey, const wchar_t* name,
                         DWORD* value) {
  utils::port::ScopedKey key(registry);
  if (const DWORD error = registry.openKey(root, subKey, KEY_QUERY_VALUE, key.out())) return error;
  return getDword(registry, key.get(), name, value);
}

inline bool exitedWith(int status, int code) { return status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == code; }

// A forked child that runs first(), tells the parent it got that far, waits for
// the parent's go and then runs second(); its exit status is first()'s result
// if not 0, else second()'s.
class PausedChild {
 public:
  PausedChild(const std::function<int()>& first, const std::function<int()>& second) {
    if (::pipe(ready_) != 0 || ::pipe(go_) != 0) return;
    pid_ = ::fork();
    if (pid_ != 0) {
      closeEnd(&ready_[1]);  // so that waitReady sees a child that died; go_[0] stays: no SIGPIPE
      return;
    }
    closeEnd(&ready_[0]);
    closeEnd(&go_[1]);
    int code = first();
    char signal = 'r';
    if (::write(ready_[1], &signal, 1) != 1 || ::read(go_[0], &signal, 1) != 1) ::_exit(100);
    ::_exit(code != 0 ? code : second());
  }
  ~PausedChild() {
    if (pid_ > 0) finish();
    for (int* fd : {&ready_[0], &ready_[1], &go_[0], &go_[1]}) closeEnd(fd);
  }
  PausedChild(const PausedChild&) = delete;
  PausedChild& operator=(const PausedChild&) = delete;

  // Waits until the child has run first(); false if it never got there.
  bool waitReady() {
    char signal = 0;
    return pid_ > 0 && ::read(ready_[0], &signal, 1) == 1;
  }
  // The child's process id, to signal it; finish() still reaps it.
  pid_t pid() const { return pid_; }
  // Lets the child go on and returns its wait status (-1 on failure).
  int finish() {
    const pid_t pid = pid_;
    pid_ = -1;
    int status = 0;
    if (pid <= 0 || ::write(go_[1], "g", 1) != 1 || ::waitpid(pid, &status, 0) != pid) return -1;
    return status;
  }

 private:
  static void closeEnd(int* fd) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }

  int ready_[2] = {-1, -1};
  int go_[2] = {-1, -1};
  pid_t pid_ = -1;
};

// A store on two files in a fresh folder, SQLite faults cleared around each test.
class ScratchStore : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.ok());
    utils::linuxport::sqlite::clearFaults();
  }
  void TearDown() override { utils::linuxport::sqlite::clearFaults(); }

  std::string machine() const { return folder_.file("machine/machine.db"); }
  std::string user() const { return folder_.file("user/registry.db"); }
  std::unique_ptr<utils::linuxport::RegistryStore> open() const {
    return std::make_unique<utils::linuxport::RegistryStore>(machine(), user());
  }

  TempFolder folder_;
};

}  // namespace registry_test
