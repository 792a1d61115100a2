// libutils.so end to end: the load step reads the debug settings from a real
// store file, and trace lines reach the file named by UTILS_DEBUG_OUTPUT.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

class LibraryLoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/utils-load-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    dir_ = pattern;
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  // Runs the probe with the store files and debug output of this test.
  int probe(const std::vector<std::string>& args) {
    const pid_t child = fork();
    if (child == 0) {
      setenv("UTILS_REGISTRY_MACHINE", (dir_ + "/machine.db").c_str(), 1);
      setenv("UTILS_REGISTRY_USER", (dir_ + "/user.db").c_str(), 1);
      setenv("UTILS_DEBUG_OUTPUT", (dir_ + "/debug.log").c_str(), 1);
      std::vector<char*> argv{const_cast<char*>(UTILS_PROBE_PATH)};
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(UTILS_PROBE_PATH, argv.data());
      _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string output() {
    std::ifstream in(dir_ + "/debug.log", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::string dir_;
};

TEST_F(LibraryLoadTest, SettingsComeFromTheStoreAtLoad) {
  // Nothing stored: only the one-time AppDebug line.
  ASSERT_EQ(0, probe({"trace"}));
  EXPECT_EQ("AppDebug=0\n", output());

  ASSERT_EQ(0, probe({"set-dword", "Software\\vorlane", "LogDebug", "12"}));
  ASSERT_EQ(0, probe({"set-dword", "SOFTWARE\\VORLANE", "EnableAppDebug", "0x1000D"}));
  std::remove((dir_ + "/debug.log").c_str());
  ASSERT_EQ(0, probe({"trace"}));

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

TEST_F(LibraryLoadTest, UnreadableStoreStillLoads) {
  std::ofstream(dir_ + "/machine.db") << "this is not a registry store, and must stay as it is";
  ASSERT_EQ(0, probe({"trace"}));
  EXPECT_EQ("AppDebug=0\n", output());
  std::ifstream in(dir_ + "/machine.db");
  std::string kept;
  std::getline(in, kept);
  EXPECT_EQ("this is not a registry store, and must stay as it is", kept);
}

}  // namespace
