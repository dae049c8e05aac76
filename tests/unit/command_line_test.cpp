#include "app/command_line.h"

#include <gtest/gtest.h>

namespace tovami {
namespace {

using Args = std::vector<std::string>;

TEST(OneShotSwitches, TakeTheNextArgumentAsValueInTableOrder) {
  EXPECT_EQ(findOneShotSwitch({"tovami", "--render-overlay", "out.png"}),
            (OneShotRequest{"--render-overlay", "out.png"}));
  // Both render switches present: the island comes first in the table.
  EXPECT_EQ(findOneShotSwitch({"tovami", "--render-overlay", "a.png", "--render-island", "b.png"}),
            (OneShotRequest{"--render-island", "b.png"}));
  // The value may itself look like a switch.
  EXPECT_EQ(findOneShotSwitch({"tovami", "--warp-jump", "--dump-ax"}),
            (OneShotRequest{"--warp-jump", "--dump-ax"}));
}

TEST(OneShotSwitches, WithoutAValueAreIgnored) {
  EXPECT_EQ(findOneShotSwitch({"tovami", "--render-overlay"}), std::nullopt);
  // The overlay switch lacks a value, so the search goes on to the next switch in the table.
  EXPECT_EQ(findOneShotSwitch({"tovami", "--dump-ax", "Terminal", "--render-overlay"}),
            (OneShotRequest{"--dump-ax", "Terminal"}));
}

TEST(OneShotSwitches, MatchWholeArgumentsOnly) {
  EXPECT_EQ(findOneShotSwitch({"tovami", "--render-overlay=out.png", "x"}), std::nullopt);
  EXPECT_EQ(findOneShotSwitch({"tovami", "--Render-Overlay", "x"}), std::nullopt);
  // The program name takes part in the search.
  EXPECT_EQ(findOneShotSwitch({"--list-agents", "json"}), (OneShotRequest{"--list-agents", "json"}));
  EXPECT_EQ(findOneShotSwitch({}), std::nullopt);
}

TEST(OneShotSwitches, ShowTourNeedsNoValue) {
  EXPECT_TRUE(wantsShowTour({"tovami", "--show-tour"}));
  EXPECT_TRUE(wantsShowTour({"tovami", "--show-tour", "x"}));
  EXPECT_FALSE(wantsShowTour({"tovami", "--show-tour=1"}));
}

}  // namespace
}  // namespace tovami
