// Which controller vrlbusd drives: the same one the library reports as the
// radio (the lowest-index primary controller that BlueZ manages), an index, or
// an address, on machines with several controllers.
#include <gtest/gtest.h>

#include "controller_choice.h"

namespace vrlbusd {
namespace {

using Kind = ControllerChoice::Kind;

TEST(ControllerChoiceTest, PicksTheSameControllerAsTheRadioOrTheOneAskedFor) {
  const uint64_t a = 0x001122334455, b = 0x00AABBCCDDEE, c = 0x0000000000C1;
  // Listed in the kernel's order, which need not be the index order.
  const std::vector<ControllerInfo> machine{
      {3, a, true, false}, {1, b, true, false}, {0, c, false, false}, {2, 0x0D, true, true}};
  struct Case {
    ControllerChoice choice;
    std::optional<int> expected;
  };
  const Case cases[] = {
      {{Kind::kFirst, 0, 0}, 1},  // hci0 is an AMP controller, hci2 a raw one: neither is BlueZ's
      {{Kind::kIndex, 3, 0}, 3},  // asked by index, whatever it is
      {{Kind::kIndex, 0, 0}, 0},
      {{Kind::kIndex, 7, 0}, std::nullopt},
      {{Kind::kAddress, 0, a}, 3},  // by address, wherever it sits
      {{Kind::kAddress, 0, 0x42}, std::nullopt},
  };
  for (const auto& entry : cases) {
    EXPECT_EQ(entry.expected, chooseController(machine, entry.choice)) << entry.choice.describe();
  }
  EXPECT_EQ(std::nullopt, chooseController({}, ControllerChoice{}));
  // After an unplug and replug the controller may come back under another index.
  const std::vector<ControllerInfo> replugged{{1, b, true, false}, {4, a, true, false}};
  EXPECT_EQ(4, chooseController(replugged, {Kind::kAddress, 0, a}));
}

TEST(ControllerChoiceTest, AddressesAreReadStrictlyAndWrittenMostSignificantFirst) {
  uint64_t address = 0;
  ASSERT_TRUE(parseControllerAddress("00:1a:7D:da:71:13", &address));
  EXPECT_EQ(0x001A7DDA7113u, address);
  EXPECT_EQ("00:1A:7D:DA:71:13", controllerAddressText(address));
  for (const char* bad : {"", "00:1A:7D:DA:71", "00:1A:7D:DA:71:13:", "00-1A-7D-DA-71-13", "00:1A:7D:DA:71:1G",
                          "001A7DDA7113", "00:1A:7D:DA:71:1\0"}) {
    EXPECT_FALSE(parseControllerAddress(bad, &address)) << bad;
  }
  EXPECT_EQ("controller 00:1A:7D:DA:71:13", (ControllerChoice{Kind::kAddress, 0, 0x001A7DDA7113}).describe());
  EXPECT_EQ("hci2", (ControllerChoice{Kind::kIndex, 2, 0}).describe());
}

}  // namespace
}  // namespace vrlbusd
