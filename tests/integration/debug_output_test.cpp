// The Linux debugger output: the system log (journal or syslog socket, here
// sockets of the test's own), standard error or a file; each text in one write,
// never blocking, never raising SIGPIPE.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "port/linux/debug_output.h"

namespace {

using utils::linuxport::LinuxDebugOutput;
using utils::linuxport::SystemLogSockets;

class DebugOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/utils-debug-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    dir_ = pattern;
  }
  void TearDown() override {
    for (int fd : sockets_) close(fd);
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }

  std::string path(const char* name) const { return dir_ + "/" + name; }

  // A datagram socket bound at path, as the journal or syslog daemon listens.
  int listen(const std::string& at) {
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, at.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(0, bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address));
    sockets_.push_back(fd);
    return fd;
  }

  // Every datagram waiting on fd (the sender has returned before this runs).
  static std::vector<std::string> received(int fd) {
    std::vector<std::string> datagrams;
    char buffer[65536];
    ssize_t n;
    while ((n = recv(fd, buffer, sizeof buffer, 0)) >= 0) datagrams.emplace_back(buffer, static_cast<size_t>(n));
    return datagrams;
  }

  SystemLogSockets testSockets() const { return SystemLogSockets{path("journal.sock"), path("syslog.sock")}; }

  std::string dir_;
  std::vector<int> sockets_;
};

// The fields of a datagram in the journal's native protocol.
std::map<std::string, std::string> journalFields(const std::string& datagram) {
  std::map<std::string, std::string> fields;
  size_t at = 0;
  while (at < datagram.size()) {
    const size_t end = datagram.find_first_of("=\n", at);
    if (end == std::string::npos) break;
    const std::string name = datagram.substr(at, end - at);
    if (datagram[end] == '=') {
      const size_t newline = datagram.find('\n', end);
      fields[name] = datagram.substr(end + 1, newline - end - 1);
      at = newline + 1;
    } else {
      uint64_t length = 0;
      for (int i = 0; i < 8; ++i) length |= uint64_t(static_cast<unsigned char>(datagram[end + 1 + i])) << (8 * i);
      fields[name] = datagram.substr(end + 9, length);
      EXPECT_EQ('\n', datagram[end + 9 + length]);
      at = end + 10 + length;
    }
  }
  return fields;
}

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

using utils::testing::ChildOptions;
using utils::testing::runChild;

TEST_F(DebugOutputTest, FileIsAppendedWithWholeLinesAndCreatedByTheFirstOnly) {
  const std::string log = path("debug.log");
  {
    LinuxDebugOutput output(log.c_str(), testSockets());
    struct stat status {};
    EXPECT_NE(0, stat(log.c_str(), &status)) << "created before anything was written";
  }
  std::ofstream(log) << "earlier\n";
  {
    LinuxDebugOutput output(log.c_str(), testSockets());
    std::vector<std::thread> threads;
    const std::string line = std::string(1500, 'a') + "\n";
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&output, &line] {
        for (int i = 0; i < 200; ++i) output.writeNarrow(line.c_str());
      });
    }
    for (auto& t : threads) t.join();
    output.writeWide(L"wide \u00e9\n");
    output.writeLogLine(4, "utils", "[ 9:05:07][4][utils]x=5\n");
  }
  std::istringstream lines(readAll(log));
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ("earlier", line);  // appended, not replaced
  int whole = 0;
  std::vector<std::string> others;
  while (std::getline(lines, line)) {
    if (line == std::string(1500, 'a'))
      ++whole;
    else
      others.push_back(line);
  }
  EXPECT_EQ(800, whole);
  EXPECT_EQ((std::vector<std::string>{"wide \xc3\xa9", "[ 9:05:07][4][utils]x=5"}), others);
}

TEST_F(DebugOutputTest, AnythingButARegularFileIsRefusedWithoutWaiting) {
  const int journal = listen(path("journal.sock"));
  const std::string fifo = path("fifo");
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  const std::string folder = path("folder");
  ASSERT_EQ(0, mkdir(folder.c_str(), 0700));
  // A FIFO without a reader would block the open (here in a child with a
  // deadline), one with a reader the writes; a folder or a terminal cannot
  // hold a log. Each text goes to the system log instead.
  const auto end = runChild([&] {
    LinuxDebugOutput output(fifo.c_str(), testSockets());
    output.writeNarrow("refused\n");
    return 0;
  });
  EXPECT_EQ(0, end.code) << "signal " << end.signal;
  EXPECT_EQ(1u, received(journal).size());
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  for (const std::string& target : {fifo, folder, std::string("/dev/null"), path("no-folder/x.log")}) {
    LinuxDebugOutput output(target.c_str(), testSockets());
    output.writeNarrow("refused\n");
    const auto datagrams = received(journal);
    ASSERT_EQ(1u, datagrams.size()) << target;
    EXPECT_EQ("refused", journalFields(datagrams[0])["MESSAGE"]) << target;
  }
  char byte;
  EXPECT_EQ(0, read(reader, &byte, 1)) << "nothing reached the FIFO";
  close(reader);
}

TEST_F(DebugOutputTest, StandardErrorNeverKillsOrStopsTheHost) {
  // The reader is gone: no SIGPIPE, errno as the caller left it.
  auto end = runChild(
      [] {
        LinuxDebugOutput output("stderr");
        errno = 1234;
        output.writeNarrow("to nobody\n");
        sigset_t pending;
        sigpending(&pending);
        return errno != 1234 ? 3 : sigismember(&pending, SIGPIPE) ? 4 : 0;
      },
      ChildOptions{.standardErrorPipe = true, .readerGone = true});
  EXPECT_EQ(0, end.code) << "signal " << end.signal;

  // A full pipe whose reader never reads: the text is dropped, not waited for.
  end = runChild(
      [] {
        const int flags = fcntl(2, F_GETFL);
        fcntl(2, F_SETFL, flags | O_NONBLOCK);
        const std::string chunk(4096, 'f');
        while (write(2, chunk.data(), chunk.size()) > 0) {
        }
        fcntl(2, F_SETFL, flags);  // blocking again, as a host leaves it
        LinuxDebugOutput output("stderr");
        for (int i = 0; i < 100; ++i) output.writeNarrow("full\n");
        output.writeWide(L"full\n");
        return 0;
      },
      ChildOptions{.standardErrorPipe = true});
  EXPECT_EQ(0, end.code) << "signal " << end.signal;
  EXPECT_EQ(std::string::npos, end.standardError.find("full\n"));

  // And with room, the texts arrive whole.
  end = runChild(
      [] {
        LinuxDebugOutput output("stderr");
        output.writeLogLine(4, "", "[ 9:05:07][4][]x=5\n");
        char oem[8];
        output.wideToOem(L"\u20ac\u20ac\u20ac", oem, sizeof oem);
        output.writeNarrow(oem);
        return 0;
      },
      ChildOptions{.standardErrorPipe = true});
  EXPECT_EQ(0, end.code);
  EXPECT_EQ("[ 9:05:07][4][]x=5\n\xe2\x82\xac\xe2\x82\xac", end.standardError);  // cut at a whole character
}

TEST_F(DebugOutputTest, SystemLogIsTheDefaultJournalFirstThenSyslog) {
  // No journal socket bound yet: the syslog socket.
  const int syslog = listen(path("syslog.sock"));
  LinuxDebugOutput(nullptr, testSockets()).writeLogLine(2, "utils", "[ 9:05:07][2][utils]warn\n");
  const int journal = listen(path("journal.sock"));
  LinuxDebugOutput("syslog", testSockets()).writeNarrow("plain");
  EXPECT_TRUE(received(journal).empty());
  const auto datagrams = received(syslog);
  ASSERT_EQ(2u, datagrams.size());
  const std::string pid = "[" + std::to_string(getpid()) + "]: ";
  EXPECT_EQ(0u, datagrams[0].find("<12>"));  // user facility, warning
  EXPECT_NE(std::string::npos, datagrams[0].find(pid + "[ 9:05:07][2][utils]warn"));
  EXPECT_EQ('n', datagrams[0].back());  // the final newline is not repeated
  EXPECT_EQ(0u, datagrams[1].find("<15>"));
  EXPECT_NE(std::string::npos, datagrams[1].find(pid + "plain"));

  // The journal, with priority and module fields, nothing on standard error.
  auto end = runChild(
      [&] {
        LinuxDebugOutput output(nullptr, testSockets());
        output.writeLogLine(4, "utils", "[ 9:05:07][4][utils]x=5\n");
        output.writeLogLine(1, "m\nod", "[ 9:05:07][1][m\nod]bad\n");
        output.writeLogLine(3, "", "[ 9:05:07][3][]three\n");
        output.writeLogLine(16, "", "[ 9:05:07][16][]low\n");
        output.writeNarrow("AppDebug=0\n");
        output.writeWide(L"wide \u00e9");
        return 0;
      },
      ChildOptions{.standardErrorPipe = true});
  EXPECT_EQ(0, end.code);
  EXPECT_EQ("", end.standardError);
  const auto fields = [&] {
    std::vector<std::map<std::string, std::string>> all;
    for (const std::string& datagram : received(journal)) all.push_back(journalFields(datagram));
    return all;
  }();
  ASSERT_EQ(6u, fields.size());
  EXPECT_EQ((std::map<std::string, std::string>{{"MESSAGE", "[ 9:05:07][4][utils]x=5"},
                                                {"PRIORITY", "5"},
                                                {"UTILS_MODULE", "utils"},
                                                {"UTILS_LEVEL", "4"},
                                                {"SYSLOG_IDENTIFIER", program_invocation_short_name}}),
            fields[0]);
  EXPECT_EQ("3", fields[1].at("PRIORITY"));
  EXPECT_EQ("m\nod", fields[1].at("UTILS_MODULE"));  // a newline stays inside its field
  EXPECT_EQ("[ 9:05:07][1][m\nod]bad", fields[1].at("MESSAGE"));
  EXPECT_EQ("3", fields[2].at("PRIORITY"));  // the lowest bit decides
  EXPECT_EQ("7", fields[3].at("PRIORITY"));
  EXPECT_EQ("AppDebug=0", fields[4].at("MESSAGE"));
  EXPECT_EQ("7", fields[4].at("PRIORITY"));
  EXPECT_EQ(0u, fields[4].count("UTILS_MODULE"));
  EXPECT_EQ("wide \xc3\xa9", fields[5].at("MESSAGE"));

  // A journal that never reads loses texts but never blocks the writer.
  end = runChild([&] {
    LinuxDebugOutput output(nullptr, testSockets());
    const std::string line(1000, 'j');
    for (int i = 0; i < 5000; ++i) output.writeNarrow(line.c_str());
    return 0;
  });
  EXPECT_EQ(0, end.code) << "signal " << end.signal;
  const size_t kept = received(journal).size();
  EXPECT_GT(kept, 0u);
  EXPECT_LT(kept, 5000u);
}

}  // namespace
