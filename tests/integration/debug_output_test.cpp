// The Linux debugger output: standard error, the system log or a file, each
// text in one write.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "port/linux/debug_output.h"

namespace {

std::string tempPath(const char* name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir != nullptr ? dir : "/tmp") + "/utils-" + std::to_string(getpid()) + "-" + name;
}

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(DebugOutputTest, FileSinkAppendsWholeLinesFromManyThreads) {
  const std::string path = tempPath("debug.log");
  std::remove(path.c_str());
  {
    std::ofstream(path) << "earlier\n";
    utils::linuxport::LinuxDebugOutput output(path.c_str());
    std::vector<std::thread> threads;
    const std::string line = std::string(1500, 'a') + "\n";
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&output, &line] {
        for (int i = 0; i < 200; ++i) output.writeNarrow(line.c_str());
      });
    }
    for (auto& t : threads) t.join();
    output.writeWide(L"wide \u00e9\n");
  }
  const std::string text = readAll(path);
  std::istringstream lines(text);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ("earlier", line);  // appended, not replaced
  int whole = 0;
  while (std::getline(lines, line)) {
    if (line == std::string(1500, 'a'))
      ++whole;
    else
      EXPECT_EQ("wide \xc3\xa9", line);
  }
  EXPECT_EQ(800, whole);
  std::remove(path.c_str());
}

TEST(DebugOutputTest, StandardErrorIsTheDefaultAndTheFallback) {
  // Run the writes in a child whose standard error is a pipe.
  for (const char* setting : {static_cast<const char*>(nullptr), "stderr", "/nonexistent-dir/x.log"}) {
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      dup2(fds[1], 2);
      close(fds[0]);
      utils::linuxport::LinuxDebugOutput output(setting);
      output.writeNarrow("[ 9:05:07][4][]x=5\n");
      std::string oem;
      output.wideToOem(L"\u20ac", oem);
      output.writeNarrow(oem.c_str());
      _exit(0);
    }
    close(fds[1]);
    std::string got;
    char buffer[256];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) got.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ("[ 9:05:07][4][]x=5\n\xe2\x82\xac", got) << (setting ? setting : "(unset)");
  }
}

}  // namespace
