// A process that ends without UTIL_BT_Uninitialize while the notification
// service runs (its event thread delivering, its polling thread asking the bus
// daemon) exits at once and cleanly: nothing that those threads use is torn
// down under them, and nothing waits for them. Under the sanitizers a use of a
// destroyed object ends the child with an error.
#include <gtest/gtest.h>

#include "radio_test_env.h"

namespace utils::test {
namespace {

constexpr const char* kWatchedText = "11:22:33:44:55:01";

TEST(ExitWithoutUninitialize, TheProcessEndsCleanlyAndAtOnce) {
  requireProgram(vrlbusdPath());
  EmulatedBusDaemon daemon({"--manufacturer", "0x1D"});
  BluezSession session(daemon.socketPath(), true, false);  // the children inherit its environment
  ASSERT_TRUE(session.addDevice(kWatchedText, "Phone"));
  ASSERT_TRUE(session.connect(kWatchedText));
  for (const char* mode : {"return", "exit", "callback", "return", "exit"}) {
    const std::string output = session.folder.path() + "/" + mode + ".txt";
    ChildProcess child({UTILS_EXIT_CHILD_PATH, mode}, {}, output);
    // The child waits for a signal level (a second or two), then must end at
    // once: a callback still running 30 s must not hold it.
    EXPECT_TRUE(waitUntil([&] { return !child.running(); }, 25000)) << mode << ": still running after 25 s\n"
                                                                    << readFileText(output);
    EXPECT_EQ(0, child.stop()) << mode << "\n" << readFileText(output);
  }
}

}  // namespace
}  // namespace utils::test
