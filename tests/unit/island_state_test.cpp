#include "island/island_state.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "app/preference_keys.h"
#include "platform/motion.h"
#include "support/memory_preferences.h"
#include "support/virtual_dispatcher.h"

namespace tovami {
namespace {

using namespace tovami::testing;

TEST(IslandAnimation, CurvesStartAtZeroSettleAtOneAndSpringsOvershootALittle) {
  for (const auto& curve :
       {expandAnimation, hoverAnimation, collapseAnimation, AnimationCurve::spring(0.5, 1.6)}) {
    const Seconds rest = settleTime(curve);
    EXPECT_EQ(animationProgress(curve, 0), 0);
    EXPECT_GT(rest, 0.2);
    EXPECT_LT(rest, 2.5);
    double peak = 0;
    for (Seconds t = 0; t < 3; t += 0.002) {
      peak = std::max(peak, animationProgress(curve, t));
      if (t >= rest) {
        EXPECT_NEAR(animationProgress(curve, t), 1, 0.001) << t;
      }
    }
    EXPECT_LT(peak, 1.01);
    EXPECT_EQ(peak > 1.0001, curve.kind == AnimationCurve::Kind::spring && curve.dampingFraction < 1);
    EXPECT_TRUE((Transition{curve, 0}.finished(rest)));
    EXPECT_FALSE((Transition{curve, 0}.finished(rest * 0.9)));
  }
  EXPECT_NEAR(animationProgress(collapseAnimation, 0.14), 0.5, 1e-9);
  EXPECT_EQ(settleTime(collapseAnimation), 0.28);
  // Immediate curves, and curves with unusable times, are at rest from the start.
  for (const auto& odd :
       {AnimationCurve::immediate(), AnimationCurve::spring(NAN, 0.8), AnimationCurve::easeInOut(-1)}) {
    EXPECT_TRUE((Transition{odd, 5}.finished(5)));
    EXPECT_EQ(animationProgress(odd, 0.1), 1);
  }
  EXPECT_NEAR(animationProgress(AnimationCurve::spring(0.3, NAN), 30), 1, 0.001);
  EXPECT_TRUE((Transition{expandAnimation, NAN}.finished(1)));
}

class IslandStateTest : public ::testing::Test {
 protected:
  // Runs a script: "E" the pointer enters, "L" it leaves, "T" a click, a number advances time.
  void run(const std::string& script) {
    std::istringstream words(script);
    for (std::string word; words >> word;) {
      if (word == "E" || word == "L")
        state.hoverChanged(word == "E");
      else if (word == "T")
        state.islandTapped();
      else
        dispatcher.advance(std::stod(word));
    }
  }

  VirtualDispatcher dispatcher;
  MemoryPreferences preferences;
  FixedMotionSettings motion{false}, stillMotion{true};
  bool approval = false;
  int dismissals = 0;
  IslandState state{{dispatcher, preferences, motion, [this] { return approval; }}};
};

TEST_F(IslandStateTest, HoverAndClickRules) {
  const NapReport report{600, 2};
  struct Case {
    const char* script;
    bool startOpen, openOnHover, withReport, approvalPending;
    IslandPhase phase;
    bool hovering, reportKept;
    int dismissals;
  } cases[] = {
      {"E 0.3", false, true, false, false, IslandPhase::expanded, true, false, 0},
      {"E 0.29 L 1", false, true, false, false, IslandPhase::collapsed, false, false, 0},
      {"E 0.3 L 0.09 E 1", false, true, false, false, IslandPhase::expanded, true, false, 0},
      {"E 0.3 L 0.1", false, true, false, false, IslandPhase::collapsed, false, false, 0},
      {"E 1", false, false, false, false, IslandPhase::collapsed, true, false, 0},
      {"E 1", false, true, true, false, IslandPhase::collapsed, true, true, 0},
      {"E 0 L 1", true, true, false, true, IslandPhase::expanded, false, false, 0},
      {"E 0 L 1", true, true, true, false, IslandPhase::expanded, false, true, 1},
      {"T", false, false, true, false, IslandPhase::expanded, false, false, 0},
      {"T", true, true, false, false, IslandPhase::collapsed, false, false, 0},
      {"T", true, true, true, false, IslandPhase::expanded, false, true, 1},
  };
  state.setDismissReport([this] { ++dismissals; });
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    state.reset();
    dismissals = 0;
    approval = c.approvalPending;
    preferences.setBool(prefs::kIslandOpenOnHover, c.openOnHover);
    state.setWakeReport(c.withReport ? std::optional(report) : std::nullopt);
    if (c.startOpen) state.expand();
    run(c.script);
    EXPECT_EQ(state.phase(), c.phase);
    EXPECT_EQ(state.isHovering(), c.hovering);
    EXPECT_EQ(state.wakeReport().has_value(), c.reportKept);
    EXPECT_EQ(dismissals, c.dismissals);
  }
  EXPECT_FALSE(state.hasPendingHoverAction());
}

TEST_F(IslandStateTest, EachChangeIsPublishedOnceWithItsCurveAndRepeatsRestartNothing) {
  int changes = 0;
  const int token = state.addObserver([&] { ++changes; });
  dispatcher.advance(2);
  state.expand();
  const Transition opened = state.phaseTransition();
  EXPECT_EQ(opened, (Transition{expandAnimation, dispatcher.clock().uptime()}));
  dispatcher.advance(0.1);
  state.expand();
  state.setMode(IslandMode::notch);
  state.setCollapsedSize(IslandState::kInitialCollapsedSize);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(state.phaseTransition(), opened);
  state.collapse();
  EXPECT_EQ(state.phaseTransition().curve, collapseAnimation);
  run("E 0.3");
  EXPECT_EQ(state.hoverTransition().curve, hoverAnimation);
  state.reset();
  EXPECT_EQ(state.phaseTransition().curve, AnimationCurve::immediate());
  EXPECT_EQ(changes, 6);  // opened, closed, hovered, opened, unhovered, closed
  state.removeObserver(token);
  state.setNapTimerDeadline(1'800'000'600.0);
  EXPECT_EQ(changes, 6);
  // Under reduce motion every change is immediate.
  IslandState still{{dispatcher, preferences, stillMotion, nullptr}};
  still.hoverChanged(true);
  dispatcher.advance(0.3);
  EXPECT_TRUE(still.isExpanded());
  EXPECT_EQ(still.phaseTransition().curve, AnimationCurve::immediate());
  EXPECT_EQ(still.hoverTransition().curve, AnimationCurve::immediate());
}

}  // namespace
}  // namespace tovami
