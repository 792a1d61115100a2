// The Linux debugger output: the system log (journal or syslog socket, here
// sockets of the test's own), standard error or a file; each text in one write,
// never blocking, never raising SIGPIPE.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "port/linux/debug_output.h"

namespace {

using utils::linuxport::LinuxDebugOutput;
using utils::testing::ChildOptions;
using utils::testing::runChild;
using Fields = std::map<std::string, std::string>;

class DebugOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/utils-debug-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    dir_ = pattern;
  }
  void TearDown() override {
    for (int fd : sockets_) close(fd);
    std::filesystem::remove_all(dir_);
  }

  std::string path(const char* name) const { return dir_ + "/" + name; }
  utils::linuxport::SystemLogSockets sockets() const { return {path("journal.sock"), path("syslog.sock")}; }

  // A datagram socket bound where the journal or syslog daemon listens.
  int listen(const char* name) {
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path(name).c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(0, bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address));
    sockets_.push_back(fd);
    return fd;
  }

  // Every datagram waiting on fd (the sender has returned before this runs).
  static std::vector<std::string> received(int fd) {
    std::vector<std::string> datagrams;
    char buffer[65536];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) >= 0;) datagrams.emplace_back(buffer, size_t(n));
    return datagrams;
  }

  // The fields of each datagram waiting on fd, in the journal's native protocol:
  // NAME=value lines, or NAME, a newline, a 64-bit little-endian length and the value.
  static std::vector<Fields> journal(int fd) {
    std::vector<Fields> all;
    for (const std::string& datagram : received(fd)) {
      Fields& fields = all.emplace_back();
      for (size_t at = 0, end;
           at < datagram.size() && (end = datagram.find_first_of("=\n", at)) != std::string::npos;) {
        const std::string name = datagram.substr(at, end - at);
        if (datagram[end] == '=') {
          const size_t newline = std::min(datagram.find('\n', end), datagram.size());
          fields[name] = datagram.substr(end + 1, newline - end - 1);
          at = newline + 1;
          continue;
        }
        if (datagram.size() < end + 9) {
          ADD_FAILURE() << "a field's length is cut short: " << name;
          break;
        }
        uint64_t length = 0;
        for (int i = 0; i < 8; ++i) length |= uint64_t(static_cast<unsigned char>(datagram[end + 1 + i])) << (8 * i);
        if (length >= datagram.size() - (end + 9)) {  // the value and its newline
          ADD_FAILURE() << "a field's value is cut short: " << name;
          break;
        }
        fields[name] = datagram.substr(end + 9, length);
        EXPECT_EQ('\n', datagram[end + 9 + length]);
        at = end + 10 + length;
      }
    }
    return all;
  }

  std::string dir_;
  std::vector<int> sockets_;
};

TEST_F(DebugOutputTest, FileIsAppendedWithWholeLinesAndCreatedByTheFirstOnly) {
  const std::string log = path("debug.log");
  struct stat status {};
  LinuxDebugOutput(log.c_str(), sockets());
  EXPECT_NE(0, stat(log.c_str(), &status)) << "created before anything was written";
  std::ofstream(log) << "earlier\n";
  const std::string line = std::string(1500, 'a') + "\n";
  {
    LinuxDebugOutput output(log.c_str(), sockets());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&output, &line] {
        for (int i = 0; i < 200; ++i) output.writeNarrow(line.c_str());
      });
    }
    for (auto& t : threads) t.join();
    output.writeWide(L"wide \u00e9\n");
    output.writeLogLine(4, "utils", "[ 9:05:07][4][utils]x=5\n");
  }
  // Appended, not replaced; a line split by another thread's write would move
  // a newline.
  std::string expected = "earlier\n";
  for (int i = 0; i < 800; ++i) expected += line;
  std::ifstream in(log, std::ios::binary);
  EXPECT_EQ(expected + "wide \xc3\xa9\n[ 9:05:07][4][utils]x=5\n", std::string(std::istreambuf_iterator<char>(in), {}));
}

TEST_F(DebugOutputTest, AnythingButARegularFileIsRefusedWithoutWaiting) {
  const int journalSocket = listen("journal.sock");
  const std::string fifo = path("fifo"), folder = path("folder");
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  ASSERT_EQ(0, mkdir(folder.c_str(), 0700));
  // A FIFO without a reader would block the open (here in a child with a
  // deadline), one with a reader the writes; a folder or a terminal cannot
  // hold a log. Each text goes to the system log instead.
  const auto end = runChild([&] {
    LinuxDebugOutput(fifo.c_str(), sockets()).writeNarrow("refused\n");
    return 0;
  });
  EXPECT_EQ(0, end.code) << "signal " << end.signal;
  EXPECT_EQ(1u, received(journalSocket).size());
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  for (const std::string& target : {fifo, folder, std::string("/dev/null"), path("no-folder/x.log")}) {
    LinuxDebugOutput(target.c_str(), sockets()).writeNarrow("refused\n");
    const auto fields = journal(journalSocket);
    ASSERT_EQ(1u, fields.size()) << target;
    EXPECT_EQ("refused", fields[0].at("MESSAGE")) << target;
  }
  char byte;
  EXPECT_EQ(0, read(reader, &byte, 1)) << "nothing reached the FIFO";
  close(reader);
}

TEST_F(DebugOutputTest, StandardErrorNeverKillsOrStopsTheHost) {
  // The reader is gone: no SIGPIPE, errno as the caller left it.
  auto end = runChild(
      [] {
        errno = 1234;
        LinuxDebugOutput("stderr").writeNarrow("to nobody\n");
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
  const int syslog = listen("syslog.sock");
  LinuxDebugOutput(nullptr, sockets()).writeLogLine(2, "utils", "[ 9:05:07][2][utils]warn\n");
  const int journalSocket = listen("journal.sock");
  LinuxDebugOutput("syslog", sockets()).writeNarrow("plain");
  EXPECT_TRUE(received(journalSocket).empty());
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
        LinuxDebugOutput output(nullptr, sockets());
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
  const auto fields = journal(journalSocket);
  ASSERT_EQ(6u, fields.size());
  EXPECT_EQ((Fields{{"MESSAGE", "[ 9:05:07][4][utils]x=5"},
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
  EXPECT_EQ(
      (Fields{{"MESSAGE", "AppDebug=0"}, {"PRIORITY", "7"}, {"SYSLOG_IDENTIFIER", program_invocation_short_name}}),
      fields[4]);  // no module
  EXPECT_EQ("wide \xc3\xa9", fields[5].at("MESSAGE"));

  // A journal that never reads loses texts but never blocks the writer.
  end = runChild([&] {
    LinuxDebugOutput output(nullptr, sockets());
    const std::string line(1000, 'j');
    for (int i = 0; i < 5000; ++i) output.writeNarrow(line.c_str());
    return 0;
  });
  EXPECT_EQ(0, end.code) << "signal " << end.signal;
  const size_t kept = received(journalSocket).size();
  EXPECT_GT(kept, 0u);
  EXPECT_LT(kept, 5000u);
}

}  // namespace
