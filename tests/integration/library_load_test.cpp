// libutils.so end to end: the load step reads the debug settings from a real
// store file, and trace lines reach the file named by UTILS_DEBUG_OUTPUT.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "child_process.h"
#include "registry_test_support.h"

namespace {

using registry_test::readFile;

class LibraryLoadTest : public ::testing::Test {
 protected:
  using Run = utils::testing::ChildEnd;

  // Runs program (the probe by default) with the store files and debug output of
  // this test, changed by overrides (an empty value removes the variable), its
  // standard error a pipe (readerGone: one nobody reads).
  Run run(const std::vector<std::string>& args, const std::map<std::string, std::string>& overrides = {},
          bool readerGone = false, const std::string& program = UTILS_PROBE_PATH) {
    return utils::testing::runChild(
        [&] {
          setenv("UTILS_REGISTRY_MACHINE", dir_.file("machine.db").c_str(), 1);
          setenv("UTILS_REGISTRY_USER", dir_.file("user.db").c_str(), 1);
          setenv("UTILS_DEBUG_OUTPUT", dir_.file("debug.log").c_str(), 1);
          for (const auto& [name, value] : overrides) {
            value.empty() ? unsetenv(name.c_str()) : setenv(name.c_str(), value.c_str(), 1);
          }
          std::vector<char*> argv{const_cast<char*>(program.c_str())};
          for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
          argv.push_back(nullptr);
          execv(program.c_str(), argv.data());  // the runner's alarm stays: a probe that blocks is killed
          return 127;
        },
        {.standardErrorPipe = true, .readerGone = readerGone});
  }

  bool exists(const std::string& name) const {
    struct stat status {};
    return lstat(dir_.file(name).c_str(), &status) == 0;
  }

  std::string output() { return readFile(dir_.file("debug.log")); }

  registry_test::TempFolder dir_;
};

TEST_F(LibraryLoadTest, SettingsComeFromTheStoreAtLoad) {
  // Nothing stored, then a file that is no store (and stays as it is): only the
  // one-time AppDebug line.
  ASSERT_EQ(0, run({"trace"}).code);
  const std::string notAStore = "this is not a registry store, and must stay as it is";
  std::ofstream(dir_.file("machine.db")) << notAStore;
  ASSERT_EQ(0, run({"trace"}).code);
  EXPECT_EQ("AppDebug=0\nAppDebug=0\n", output());
  EXPECT_EQ(notAStore, readFile(dir_.file("machine.db")));
  std::remove(dir_.file("machine.db").c_str());

  ASSERT_EQ(0, run({"set-dword", "Software\\vorlane", "LogDebug", "12"}).code);
  ASSERT_EQ(0, run({"set-dword", "SOFTWARE\\VORLANE", "EnableAppDebug", "0x1000D"}).code);
  std::remove(dir_.file("debug.log").c_str());
  ASSERT_EQ(0, run({"trace"}).code);

  // Level 4 and 8 pass a mask of 12, level 1 does not; the trace mask keeps its
  // low 16 bits (0xD: bits 0x1, 0x4, 0x8).
  const std::string text = output();
  const std::regex expected(
      "\\[[ 0-9]{2}:[0-9]{2}:[0-9]{2}\\]\\[4\\]\\[probe\\]narrow 4\n"
      "\\[[ 0-9]{2}:[0-9]{2}:[0-9]{2}\\]\\[8\\]\\[probe\\]wide \xc3\xa9\n"
      "AppDebug=13\n"
      "plain Unknown type: 0x1234\n"
      "bme 1\n"
      "\\[[ 0-9]{2}:[0-9]{2}:[0-9]{2}\\]\\[4\\]\\[\\]atl\n");
  EXPECT_TRUE(std::regex_match(text, expected)) << text;
}

TEST_F(LibraryLoadTest, DebugOutputNeverStopsOrKillsTheHost) {
  // Loading creates nothing; the file comes with the first line.
  ASSERT_EQ(0, run({"set-dword", "Software\\vorlane", "EnableAppDebug", "8"}).code);
  EXPECT_FALSE(exists("debug.log"));
  ASSERT_EQ(0, run({"trace"}).code);
  EXPECT_TRUE(exists("debug.log"));

  // A FIFO nobody reads, named before main runs, neither blocks the load nor
  // the trace lines.
  ASSERT_EQ(0, mkfifo(dir_.file("fifo").c_str(), 0600));
  Run result = run({"trace"}, {{"UTILS_DEBUG_OUTPUT", dir_.file("fifo")}});
  EXPECT_EQ(0, result.code) << "signal " << result.signal;

  // Standard error whose reader is gone: no SIGPIPE.
  result = run({"trace"}, {{"UTILS_DEBUG_OUTPUT", "stderr"}}, true);
  EXPECT_EQ(0, result.code) << "signal " << result.signal;

  // Asked for, standard error gets the lines; by default it stays the host's.
  result = run({"trace"}, {{"UTILS_DEBUG_OUTPUT", "stderr"}});
  EXPECT_EQ("AppDebug=8\nplain Unknown type: 0x1234\n", result.standardError);
  result = run({"trace"}, {{"UTILS_DEBUG_OUTPUT", ""}});
  EXPECT_EQ(0, result.code);
  EXPECT_EQ("", result.standardError);
}

TEST_F(LibraryLoadTest, PrivilegedProcessIgnoresTheCallersPaths) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to make a set-user-ID copy of the probe";
  // A set-user-ID copy owned by nobody, run by root: the library must not take
  // its store files, debug output or bus socket from the caller's environment,
  // though nobody could write all of them in this folder.
  ASSERT_EQ(0, chmod(dir_.path().c_str(), 0711));
  const std::string open = dir_.file("open");
  ASSERT_EQ(0, mkdir(open.c_str(), 0777));
  ASSERT_EQ(0, chmod(open.c_str(), 0777));
  const std::string copy = dir_.file("probe-suid");
  ASSERT_EQ(0, std::system(("cp '" UTILS_PROBE_PATH "' '" + copy + "'").c_str()));
  ASSERT_EQ(0, chown(copy.c_str(), 65534, 65534));
  ASSERT_EQ(0, chmod(copy.c_str(), 04755));
  const std::map<std::string, std::string> paths{{"UTILS_REGISTRY_MACHINE", open + "/machine.db"},
                                                 {"UTILS_REGISTRY_USER", open + "/user.db"},
                                                 {"UTILS_DEBUG_OUTPUT", open + "/debug.log"},
                                                 {"HOME", open},
                                                 {"XDG_CONFIG_HOME", open}};
  // The same copy without its set-user-ID bit does use them (the test's check).
  ASSERT_EQ(0, chmod(copy.c_str(), 0755));
  ASSERT_EQ(0, run({"set-dword", "Software\\vorlane", "EnableAppDebug", "8"}, paths, false, copy).code);
  ASSERT_EQ(0, run({"trace"}, paths, false, copy).code);
  ASSERT_EQ(0, run({"set-user-dword", "Software\\x", "v", "1"}, paths, false, copy).code);
  EXPECT_TRUE(exists("open/machine.db"));
  EXPECT_TRUE(exists("open/debug.log"));
  EXPECT_TRUE(exists("open/user.db"));
  std::system(("rm -f '" + open + "'/*").c_str());

  ASSERT_EQ(0, chown(copy.c_str(), 65534, 65534));
  ASSERT_EQ(0, chmod(copy.c_str(), 04755));
  run({"set-dword", "Software\\vorlane", "EnableAppDebug", "8"}, paths, false, copy);
  const Run traced = run({"trace"}, paths, false, copy);
  EXPECT_EQ(0, traced.code) << traced.standardError;
  run({"set-user-dword", "Software\\x", "v", "1"}, paths, false, copy);
  EXPECT_FALSE(exists("open/machine.db"));
  EXPECT_FALSE(exists("open/debug.log"));
  EXPECT_FALSE(exists("open/user.db"));
  EXPECT_FALSE(exists("open/utils"));
}

}  // namespace
