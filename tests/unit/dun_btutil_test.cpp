// btutil dun on the simulated dialler: the exit code of each outcome, what it
// prints, and what it leaves behind.
#include <sstream>

#include "commands.h"
#include "dialup_fixture.h"

namespace utils::test {
namespace {

class DunCommandTest : public DunTest {
 protected:
  int run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    return btutil::runBtutil(args, out_, err_);
  }
  std::ostringstream out_, err_;
};

constexpr const char* kPhoneText = "00:19:A1:B2:C3:D4";

TEST_F(DunCommandTest, ExitCodesOfEachOutcome) {
  // No report within the time: the dial is hung up again and the answer is no.
  sim_.dialup.keepAfterHangUp(0);
  EXPECT_EQ(btutil::kExitNo, run({"dun", kPhoneText, "connect", "--timeout", "0"})) << err_.str();
  EXPECT_NE(std::string::npos, out_.str().find(" no report within 0 s: hanging up\n")) << out_.str();
  EXPECT_NE(std::string::npos, out_.str().find(" connected=0\n")) << out_.str();
  ASSERT_EQ(1u, sim_.dialup.dials().size());
  EXPECT_EQ(1u, sim_.dialup.hangUps().size()) << "the unanswered dial was hung up";

  // A dial that cannot start reports 0: a negative answer.
  sim_.dialup.failDial(ERROR_INVALID_HANDLE);
  EXPECT_EQ(btutil::kExitNo, run({"dun", kPhoneText, "connect"})) << err_.str();
  EXPECT_NE(std::string::npos, out_.str().find(" connected=0\n")) << out_.str();

  // No entry to start from: the dial cannot be prepared, the system refused.
  sim_.dialup.failDial(0);
  sim_.dialup.failReadDefaultEntry(ERROR_ACCESS_DENIED);
  EXPECT_EQ(btutil::kExitFailed, run({"dun", kPhoneText, "connect"}));
  EXPECT_NE(std::string::npos, err_.str().find("could not be prepared")) << err_.str();
  EXPECT_EQ(2u, sim_.dialup.dials().size()) << "nothing dialled";

  // Nothing to release or report: no.
  EXPECT_EQ(btutil::kExitNo, run({"dun", kPhoneText, "disconnect"}));
  EXPECT_NE(std::string::npos, out_.str().find("no connection on the phone's modem")) << out_.str();
  EXPECT_EQ(btutil::kExitNo, run({"dun", kPhoneText, "status"}));
  EXPECT_EQ(btutil::kExitOk, run({"dun", kPhoneText, "watch", "--seconds", "0"}));
  EXPECT_NE(std::string::npos,
            out_.str().find(" watching 00:19:A1:B2:C3:D4 (no connection on the phone's modem) for 0 s\n"))
      << out_.str();
  EXPECT_NE(std::string::npos, out_.str().find(" stopped\n")) << out_.str();
}

}  // namespace
}  // namespace utils::test
