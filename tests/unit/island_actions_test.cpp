#include "island/island_actions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/preference_keys.h"
#include "island/island_state.h"
#include "platform/motion.h"
#include "support/memory_preferences.h"
#include "support/virtual_dispatcher.h"

namespace tovami {
namespace {

using namespace tovami::testing;

class IslandActionsTest : public ::testing::Test, public MotionSettings {
 protected:
  bool reduceMotion() const override { return still; }

  // Each call records what it did and whether the island was still open at that moment.
  IslandActions recordingActions() {
    const auto note = [this](std::string what) { calls.push_back(what + (state.isExpanded() ? " (open)" : "")); };
    IslandActions actions;
    actions.jumpToAgent = [note](int32_t pid) { note("jump " + std::to_string(pid)); };
    actions.napNow = [note] { note("nap"); };
    actions.scheduleNap = [note](Seconds delay) { note("nap in " + std::to_string(int(delay))); };
    actions.toggleNapWhenIdle = [note] { note("when idle"); };
    actions.openSettings = [note] { note("settings"); };
    actions.answer = [note](const std::string& id, ApprovalDecision decision) {
      note("answer " + id + " " + std::to_string(int(decision)));
    };
    return actions;
  }

  // Clicks `hit` on an open island; what was called, once queued work has run.
  std::vector<std::string> click(const IslandHit& hit) {
    state.expand();
    calls.clear();
    controls.perform(hit, guard, dispatcher.clock().uptime());
    dispatcher.runUntilIdle();
    return calls;
  }

  VirtualDispatcher dispatcher;
  MemoryPreferences preferences;
  bool still = false;
  IslandState state{{dispatcher, preferences, *this, {}}};
  std::vector<std::string> calls;
  IslandControls controls{state, preferences, dispatcher.mainQueue(), recordingActions()};
  ApprovalCardGuard guard;
};

TEST_F(IslandActionsTest, EachControlCallsItsActionAndClosesTheIslandFirstWhereItLeavesIt) {
  guard.shown("r1", dispatcher.clock().uptime());
  dispatcher.advance(ApprovalCardGuard::kSettleTime);
  const auto answer = [](std::string code) { return std::vector<std::string>{"answer r1 " + code + " (open)"}; };
  const std::pair<IslandHit, std::vector<std::string>> cases[] = {
      {{IslandTarget::none}, {}},
      {{IslandTarget::agentRow, 42}, {"jump 42"}},
      {{IslandTarget::agentRow}, {}},
      {{IslandTarget::napNow}, {"nap"}},
      {{IslandTarget::napIn5Minutes}, {"nap in 300"}},
      {{IslandTarget::napIn15Minutes}, {"nap in 900"}},
      {{IslandTarget::napWhenIdle}, {"when idle (open)"}},
      {{IslandTarget::gear}, {"settings"}},
      {{IslandTarget::allow, {}, "r1"}, answer(std::to_string(int(ApprovalDecision::allow)))},
      {{IslandTarget::deny, {}, "r1"}, answer(std::to_string(int(ApprovalDecision::deny)))},
      {{IslandTarget::always, {}, "r1"}, answer(std::to_string(int(ApprovalDecision::always)))},
      {{IslandTarget::allow, {}, "r0"}, {}},  // drawn on a card that has since left
  };
  for (const auto& [hit, expected] : cases) EXPECT_EQ(click(hit), expected) << int(hit.target);

  // The outline toggles the island; the speaker flips the quiet-sound preference.
  click({IslandTarget::outline});
  EXPECT_FALSE(state.isExpanded());
  click({IslandTarget::speaker});
  EXPECT_FALSE(boolOr(preferences, prefs::kAgentQuietSound, true));
  click({IslandTarget::speaker});
  EXPECT_TRUE(boolOr(preferences, prefs::kAgentQuietSound, true));

  // The nap starts only once the click has been handled.
  state.expand(), calls.clear();
  controls.perform({IslandTarget::napNow}, guard, dispatcher.clock().uptime());
  EXPECT_TRUE(calls.empty());
  dispatcher.runUntilIdle();
  EXPECT_EQ(calls, std::vector<std::string>{"nap"});
}

// Phase and hover changes take the state's own transitions (IslandStateTest); a content change takes the
// expand curve, a jump under reduced motion.
TEST_F(IslandActionsTest, AContentChangeJumpsUnderReducedMotion) {
  EXPECT_EQ(transitionFor(IslandChange::content, state, false, 1), (Transition{expandAnimation, 1}));
  EXPECT_EQ(transitionFor(IslandChange::content, state, true, 1).curve, AnimationCurve::immediate());
}

}  // namespace
}  // namespace tovami
