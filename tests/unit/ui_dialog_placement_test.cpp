// Centring the warning dialog over its parent never puts it off the screen.
#include <gtest/gtest.h>

#include "port/dialog_placement.h"

namespace {

using utils::port::centredOnScreen;
using utils::port::DialogOrigin;
using utils::port::DialogRect;

TEST(DialogPlacement, CentredThenKeptOnScreen) {
  struct Row {
    const char* what;
    DialogRect dialog, parent;
    long screenWidth, screenHeight;
    DialogOrigin expected;
  };
  const DialogRect dialog{10, 10, 310, 210};  // 300 x 200
  const Row rows[] = {
      {"centred", dialog, {100, 100, 700, 500}, 1920, 1080, {250, 200}},
      {"odd sizes truncate", dialog, {0, 0, 303, 203}, 1920, 1080, {1, 1}},
      {"near the right edge", dialog, {1700, 100, 1900, 300}, 1920, 1080, {1620, 100}},
      {"near the bottom", dialog, {100, 1000, 300, 1080}, 1920, 1080, {50, 880}},
      {"left of the screen", dialog, {-500, -400, -100, -100}, 1920, 1080, {0, 0}},
      {"dialog wider than the screen", {0, 0, 2500, 1500}, {0, 0, 1920, 1080}, 1920, 1080, {0, 0}},
      {"parent on a monitor to the right", dialog, {2000, 0, 2600, 400}, 1920, 1080, {1620, 100}},
  };
  for (const Row& row : rows) {
    const DialogOrigin got = centredOnScreen(row.dialog, row.parent, row.screenWidth, row.screenHeight);
    EXPECT_EQ(row.expected.x, got.x) << row.what;
    EXPECT_EQ(row.expected.y, got.y) << row.what;
    // Whatever the parent, the top-left corner is on the screen.
    EXPECT_GE(got.x, 0) << row.what;
    EXPECT_GE(got.y, 0) << row.what;
  }
}

}  // namespace
