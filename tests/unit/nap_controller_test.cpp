#include "nap/nap_controller.h"

#include <gtest/gtest.h>

#include "app/preference_keys.h"
#include "nap_fakes.h"
#include "support/memory_preferences.h"
#include "support/virtual_dispatcher.h"

namespace tovami {
namespace {

using namespace tovami::testing;

class NapControllerTest : public ::testing::Test {
 protected:
  void requireAuth() { preferences.setString(prefs::kWakeRequirement, prefs::kWakeAuth); }
  const NapReport& lastReport() { return *island->calls.back().second; }
  // Napping with the pointer hidden and the prompt closed.
  void expectNapGoesOn(int pokes) {
    EXPECT_TRUE(controller->isNapping());
    EXPECT_FALSE(controller->isAuthenticating());
    EXPECT_EQ(controller->pokeCount(), pokes);
    EXPECT_EQ(input.hideCount, 1);
    EXPECT_EQ(windows.open.at(0)->level(), NapWindowLevel::screenSaver);
  }

  VirtualDispatcher dispatcher;
  MemoryPreferences preferences;
  FakeWindowSystem windows;
  FakeInput input;
  FakeAuthenticator authenticator;
  FakePower power;
  std::shared_ptr<RecordingIsland> island = std::make_shared<RecordingIsland>();
  std::shared_ptr<CountingHints> hints = std::make_shared<CountingHints>();
  std::vector<SoundCue> cues;
  std::shared_ptr<NapController> controller = std::make_shared<NapController>(
      NapControllerDependencies{dispatcher, preferences, windows, input, authenticator, power, island, hints,
                                [this](SoundCue cue) { cues.push_back(cue); }});
};

TEST_F(NapControllerTest, StartCoversEveryDisplayHidesThePointerAndHoldsPower) {
  windows.displays = {ScreenInfo{Rect{0, 0, 1280, 800}}, ScreenInfo{Rect{1280, 0, 1024, 768}}};
  controller->startNap();
  ASSERT_TRUE(controller->isNapping());
  EXPECT_EQ(windows.open.size(), 2u);
  EXPECT_EQ(windows.madeKey, 1);
  EXPECT_EQ(input.hideCount, 1);
  EXPECT_EQ(input.monitorCount(), 3);
  EXPECT_EQ(input.resignObservers(), 1);
  EXPECT_EQ(power.heldFor(NapController::kKeepAwakeReason), 3);
  EXPECT_EQ(hints->resets, 1);
  EXPECT_EQ(island->calls.front(), (std::pair<bool, std::optional<NapReport>>{true, std::nullopt}));

  // Starting while napping changes nothing; losing focus brings the nap back to the front.
  controller->startNap();
  EXPECT_EQ(windows.created, 2);
  EXPECT_EQ(input.hideCount, 1);
  EXPECT_EQ(island->calls.size(), 1u);
  input.resignActive();
  EXPECT_EQ(windows.madeKey, 2);
  EXPECT_EQ(input.hideCount, 1);
}

TEST_F(NapControllerTest, WakeKeysAndClicksEndTheNapAndReleaseEverything) {
  for (InputKey key : {InputKey::returnKey, InputKey::space, InputKey::escape, InputKey::keypadEnter}) {
    controller->startNap();
    EXPECT_TRUE(input.key(key));
    EXPECT_FALSE(controller->isNapping());
    EXPECT_TRUE(windows.open.empty());
    EXPECT_EQ(input.hideCount, 0);
    EXPECT_EQ(input.monitorCount(), 0);
    EXPECT_EQ(input.resignObservers(), 0);
    EXPECT_TRUE(power.held.empty());
    EXPECT_FALSE(island->calls.back().first);
  }
  controller->startNap();
  EXPECT_TRUE(input.click());
  EXPECT_FALSE(controller->isNapping());
}

TEST_F(NapControllerTest, OtherKeysArePokesButRepeatsAndMovementOnlyShowTheHint) {
  controller->startNap();
  EXPECT_TRUE(input.key(InputKey::other));
  EXPECT_TRUE(input.key(InputKey::other, /*repeat=*/true));
  EXPECT_TRUE(input.key(InputKey::other, /*repeat=*/true));
  EXPECT_TRUE(input.key(InputKey::other));
  EXPECT_FALSE(input.move());  // passed on, not swallowed
  EXPECT_TRUE(controller->isNapping());
  EXPECT_EQ(controller->pokeCount(), 2);
  EXPECT_EQ(hints->hints, 5);

  dispatcher.advance(30);
  input.key(InputKey::space);
  EXPECT_EQ(lastReport(), (NapReport{30, 2}));
  EXPECT_EQ(lastReport().pokesText(), "2 pokes ignored");
}

TEST_F(NapControllerTest, OnlyNapsLongerThanAMinutePurrAndTheWallClockDoesNotCount) {
  controller->startNap();
  dispatcher.advance(59);
  dispatcher.shiftWallClock(+3600);
  controller->endNap();
  EXPECT_DOUBLE_EQ(lastReport().duration, 59);
  EXPECT_TRUE(cues.empty());

  controller->startNap();
  dispatcher.advance(61);
  controller->endNap();
  EXPECT_EQ(cues, std::vector<SoundCue>{SoundCue::napEnded});
  EXPECT_EQ(lastReport().durationText(), "Napped 1 min");
}

TEST_F(NapControllerTest, ScheduledNapStartsAfterItsDelayAndEndWhileIdleCancelsIt) {
  controller->scheduleDelayedNap(300);
  EXPECT_EQ(island->deadline, dispatcher.clock().now() + 300);
  controller->endNap();
  EXPECT_FALSE(island->deadline);
  EXPECT_TRUE(island->calls.empty());
  dispatcher.advance(301);
  EXPECT_FALSE(controller->isNapping());

  controller->scheduleDelayedNap(5);
  dispatcher.advance(4.9);
  EXPECT_FALSE(controller->isNapping());
  dispatcher.advance(0.1);
  EXPECT_TRUE(controller->isNapping());
  EXPECT_FALSE(island->deadline);
  controller->scheduleDelayedNap(5);  // ignored during a nap
  EXPECT_FALSE(island->deadline);
}

TEST_F(NapControllerTest, NoDisplayUndoesEverythingAndRetriesEveryTwoSeconds) {
  windows.displays.clear();
  controller->startNap();
  EXPECT_FALSE(controller->isNapping());
  EXPECT_TRUE(power.held.empty());
  EXPECT_EQ(input.hideCount, 0);
  EXPECT_EQ(input.monitorCount(), 0);
  ASSERT_EQ(island->calls.size(), 2u);
  EXPECT_FALSE(island->calls[1].first);
  EXPECT_FALSE(island->calls[1].second);
  EXPECT_TRUE(controller->hasDelayedNap());

  dispatcher.advance(2);
  EXPECT_FALSE(controller->isNapping());
  windows.displays = {ScreenInfo{Rect{0, 0, 800, 600}}};
  dispatcher.advance(2);
  EXPECT_TRUE(controller->isNapping());
  EXPECT_EQ(windows.open.size(), 1u);
}

TEST_F(NapControllerTest, ScreenChangesRebuildOnceAfterTheDebounceAndOnlyWhenFramesDiffer) {
  controller->startNap();
  controller->scheduleScreenRebuild();
  dispatcher.advance(0.3);
  EXPECT_EQ(windows.created, 1);  // identical frames: nothing rebuilt

  windows.displays.push_back(ScreenInfo{Rect{1280, 0, 1024, 768}});
  controller->scheduleScreenRebuild();
  dispatcher.advance(0.2);
  controller->scheduleScreenRebuild();  // a burst collapses into one rebuild
  dispatcher.advance(0.2);
  EXPECT_EQ(windows.created, 1);
  dispatcher.advance(0.15);
  EXPECT_EQ(windows.created, 3);
  EXPECT_EQ(windows.open.size(), 2u);
  EXPECT_EQ(input.monitorCount(), 3);  // monitors stay
  EXPECT_EQ(input.hideCount, 1);
}

TEST_F(NapControllerTest, AuthenticationUnavailableWakesAtOnce) {
  requireAuth();
  authenticator.able = false;
  controller->startNap();
  input.key(InputKey::space);
  EXPECT_FALSE(controller->isNapping());
}

TEST_F(NapControllerTest, AuthSuccessEndsTheNap) {
  requireAuth();
  controller->startNap();
  input.key(InputKey::space);
  ASSERT_TRUE(controller->isAuthenticating());
  EXPECT_EQ(authenticator.last().reason, "end the nap and uncover your screen");
  EXPECT_EQ(input.hideCount, 0);  // the pointer shows for the prompt
  EXPECT_EQ(windows.open[0]->level(), NapWindowLevel::status);

  authenticator.last().answer(true);
  EXPECT_TRUE(controller->isNapping());  // the reply reaches the main queue first
  dispatcher.runUntilIdle();
  EXPECT_FALSE(controller->isNapping());
  EXPECT_EQ(input.hideCount, 0);
  EXPECT_EQ(lastReport().pokesIgnored, 0);
}

TEST_F(NapControllerTest, FailureCancelWatchdogOrSecondGestureCountOnePokeAndTheNapGoesOn) {
  requireAuth();
  controller->startNap();
  // Failure or cancel: the prompt answers no. The closed prompt's watchdog is gone.
  input.key(InputKey::escape);
  authenticator.last().answer(false);
  dispatcher.runUntilIdle();
  expectNapGoesOn(1);
  dispatcher.advance(100);
  expectNapGoesOn(1);

  // A second gesture closes the open prompt instead of opening another.
  input.key(InputKey::space);
  input.click();
  EXPECT_EQ(authenticator.last().invalidations, 1);
  dispatcher.runUntilIdle();
  expectNapGoesOn(2);
  EXPECT_EQ(authenticator.made.size(), 2u);

  // A prompt that never answers is closed after 90 s.
  input.key(InputKey::space);
  dispatcher.advance(89.9);
  EXPECT_TRUE(controller->isAuthenticating());
  dispatcher.advance(0.1);
  expectNapGoesOn(3);
}

TEST_F(NapControllerTest, ScreenChangesDuringThePromptWaitUntilItCloses) {
  requireAuth();
  controller->startNap();
  input.key(InputKey::space);
  windows.displays.push_back(ScreenInfo{Rect{1280, 0, 1024, 768}});
  controller->scheduleScreenRebuild();
  dispatcher.advance(1);
  EXPECT_EQ(windows.created, 1);
  authenticator.last().answer(false);
  dispatcher.advance(0.3);
  EXPECT_EQ(windows.open.size(), 2u);
}

TEST_F(NapControllerTest, EndingDuringThePromptClosesItAndALateReplyChangesNothing) {
  requireAuth();
  controller->startNap();
  input.key(InputKey::space);
  controller->endNap();  // quitting during a nap
  EXPECT_EQ(authenticator.last().invalidations, 1);
  EXPECT_EQ(input.hideCount, 0);
  ASSERT_TRUE(island->calls.back().second);
  controller->startNap();
  input.key(InputKey::space);
  dispatcher.runUntilIdle();  // the first prompt's failure arrives now
  EXPECT_TRUE(controller->isAuthenticating());
  EXPECT_EQ(controller->pokeCount(), 0);
}

TEST(NapReport, TextsTruncateToWholeMinutesAndCountPokes) {
  EXPECT_EQ((NapReport{59.9, 0}).durationText(), "Napped under a minute");
  EXPECT_EQ((NapReport{3599, 1}).durationText(), "Napped 59 min");
  EXPECT_EQ((NapReport{7200, 0}).durationText(), "Napped 2 hr");
  EXPECT_EQ((NapReport{3900, 0}).durationText(), "Napped 1 hr 5 min");
  EXPECT_EQ((NapReport{-5, 0}).durationText(), "Napped under a minute");
  EXPECT_EQ((NapReport{0, 0}).pokesText(), "nobody poked");
  EXPECT_EQ((NapReport{0, 1}).pokesText(), "1 poke ignored");
  EXPECT_EQ((NapReport{0, 12}).pokesText(), "12 pokes ignored");
}

}  // namespace
}  // namespace tovami
