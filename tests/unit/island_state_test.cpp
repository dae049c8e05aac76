#include "island/island_state.h"

#include <gtest/gtest.h>

#include <sstream>

#include "app/preference_keys.h"
#include "platform/motion.h"
#include "support/memory_preferences.h"
#include "support/virtual_dispatcher.h"

namespace tovami {
namespace {

using namespace tovami::testing;

class IslandStateTest : public ::testing::Test, public MotionSettings {
 protected:
  // Runs a script on a fresh state ("E"/"L" the pointer enters/leaves, "T" a click, a number advances
  // time; "open", "report", "approval", "no-hover-open" set the scene) and describes where it ends.
  std::string play(const std::string& script) {
    state.reset(), state.setWakeReport(std::nullopt), approval = false, dismissals = 0;
    preferences.setBool(prefs::kIslandOpenOnHover, true);
    std::istringstream words(script);
    for (std::string word; words >> word;) {
      if (word == "E" || word == "L") state.hoverChanged(word == "E");
      if (word == "T") state.islandTapped();
      if (word == "open") state.expand();
      if (word == "report") state.setWakeReport(NapReport{600, 2});
      if (word == "approval") approval = true;
      if (word == "no-hover-open") preferences.setBool(prefs::kIslandOpenOnHover, false);
      if (std::isdigit(word[0])) dispatcher.advance(std::stod(word));
    }
    return std::string(state.isExpanded() ? "open" : "closed") + (state.isHovering() ? " hovered" : "") +
           (state.wakeReport() ? " report" : "") + (dismissals ? " dismissed" : "");
  }

  VirtualDispatcher dispatcher;
  MemoryPreferences preferences;
  bool reduceMotion() const override { return still; }

  bool approval = false, still = false;
  int dismissals = 0;
  IslandState state{{dispatcher, preferences, *this, [this] { return approval; }}};
};

TEST_F(IslandStateTest, HoverAndClickRules) {
  const std::pair<const char*, const char*> cases[] = {
      {"E 0.3", "open hovered"},
      {"E 0.29 L 1", "closed"},
      {"E 0.3 L 0.09 E 1", "open hovered"},
      {"E 0.3 L 0.1", "closed"},
      {"no-hover-open E 1", "closed hovered"},
      {"report E 1", "closed hovered report"},
      {"open approval E L 1", "open"},
      {"open report E L 1", "open report dismissed"},
      {"no-hover-open report T", "open"},
      {"open T", "closed"},
      {"open report T", "open report dismissed"},
  };
  state.setDismissReport([this] { ++dismissals; });
  for (const auto& [script, expected] : cases) EXPECT_EQ(play(script), expected) << script;
  EXPECT_FALSE(state.hasPendingHoverAction());
}

TEST_F(IslandStateTest, EachChangeIsPublishedOnceWithItsCurveAndRepeatsRestartNothing) {
  int changes = 0;
  state.addObserver([&] { ++changes; });
  state.expand();
  const Transition opened = state.phaseTransition();
  EXPECT_EQ(opened, (Transition{expandAnimation, dispatcher.clock().uptime()}));
  dispatcher.advance(0.1);
  state.expand();
  EXPECT_TRUE(changes == 1 && state.phaseTransition() == opened);
  state.collapse();
  EXPECT_EQ(state.phaseTransition().curve, collapseAnimation);
  state.hoverChanged(true);
  dispatcher.advance(0.3);
  EXPECT_EQ(state.hoverTransition().curve, hoverAnimation);
  state.reset();
  EXPECT_EQ(state.phaseTransition().curve, AnimationCurve::immediate());
  EXPECT_EQ(changes, 6);  // opened, closed, hovered, opened, unhovered, closed
  still = true;           // under reduce motion every change is immediate
  state.hoverChanged(true), state.expand();
  EXPECT_TRUE(state.phaseTransition().curve == AnimationCurve::immediate() &&
              state.hoverTransition().curve == AnimationCurve::immediate());
}

}  // namespace
}  // namespace tovami
