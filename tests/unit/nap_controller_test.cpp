#include "nap/nap_controller.h"

#include <gtest/gtest.h>

#include "app/preference_keys.h"
#include "nap/keep_awake.h"
#include "nap_fakes.h"
#include "support/memory_preferences.h"
#include "support/virtual_dispatcher.h"

namespace tovami {
namespace {

using namespace tovami::testing;

class NapControllerTest : public ::testing::Test {
 protected:
  void requireAuth() { preferences.setString(prefs::kWakeRequirement, prefs::kWakeAuth); }
  // A nap, and a key that asks to wake from it.
  void napAndPressSpace() { controller->startNap(), input.key(InputKey::space); }
  const NapReport& lastReport() { return *island->calls.back().second; }
  // Napping with `pokes`, the pointer hidden and the prompt closed.
  void expectNapGoesOn(int pokes) {
    EXPECT_TRUE(controller->isNapping() && !controller->isAuthenticating());
    EXPECT_EQ(controller->pokeCount(), pokes);
    EXPECT_EQ(input.hideCount, 1);
    EXPECT_EQ(windows.open.at(0)->level, NapWindowLevel::screenSaver);
  }
  // Idle with everything given back.
  void expectReleased() {
    EXPECT_FALSE(controller->isNapping() || (!island->calls.empty() && island->calls.back().first));
    EXPECT_TRUE(windows.open.empty() && input.monitors.empty() && input.resign.empty() && power.held.empty());
    EXPECT_EQ(input.hideCount, 0);
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

TEST_F(NapControllerTest, StartCoversEveryDisplayOnceAndComesBackToTheFront) {
  windows.displays = {ScreenInfo{Rect{0, 0, 1280, 800}}, ScreenInfo{Rect{1280, 0, 1024, 768}}};
  for (int i = 0; i < 2; ++i) controller->startNap();  // the second changes nothing
  ASSERT_TRUE(controller->isNapping());
  // Windows made, made key, pointer hides, power assertions, hint resets.
  EXPECT_EQ(std::tuple(windows.created, windows.madeKey, input.hideCount,
                       power.heldFor(NapController::kKeepAwakeReason), hints->resets),
            std::tuple(2, 1, 1, 3, 1));
  EXPECT_EQ(island->calls, (decltype(island->calls){{true, std::nullopt}}));
  input.resignActive();  // another program came forward
  EXPECT_EQ(windows.madeKey, 2);
  EXPECT_EQ(input.hideCount, 1);
}

TEST_F(NapControllerTest, WakeKeysAndClicksEndTheNapOtherKeysArePokesRepeatsAndMovesOnlyHint) {
  for (InputKey wake : {InputKey::returnKey, InputKey::space, InputKey::escape, InputKey::keypadEnter,
                        InputKey::other /* here: a click */}) {
    controller->startNap();
    EXPECT_TRUE(input.key(InputKey::other));
    EXPECT_TRUE(input.key(InputKey::other, /*repeat=*/true));
    EXPECT_FALSE(input.move());  // passed on, not swallowed
    dispatcher.advance(30);
    EXPECT_TRUE(wake == InputKey::other ? input.click() : input.key(wake));
    expectReleased();
    EXPECT_EQ(lastReport(), (NapReport{30, 1}));
  }
  EXPECT_EQ(hints->hints, 3 * 5);
}

// Keys while another program holds the keyboard are not the nap's, and a click still wakes (test_nap); with
// the password required, the prompt waits for the keyboard: typing would go elsewhere.
TEST_F(NapControllerTest, ThePasswordPromptWaitsForTheKeyboard) {
  requireAuth();
  controller->startNap();
  input.keyboard = false;
  EXPECT_TRUE(input.key(InputKey::space));
  input.click();
  EXPECT_TRUE(authenticator.made.empty());
  expectNapGoesOn(0);
  input.keyboard = true;
  input.click();
  EXPECT_TRUE(controller->isAuthenticating());
}

TEST_F(NapControllerTest, OnlyNapsLongerThanAMinutePurrAndTheWallClockDoesNotCount) {
  for (Seconds length : {59.0, 61.0}) {
    controller->startNap();
    dispatcher.advance(length);
    dispatcher.shiftWallClock(+3600);
    controller->endNap();
    EXPECT_DOUBLE_EQ(lastReport().duration, length);
  }
  EXPECT_EQ(cues, std::vector<SoundCue>{SoundCue::napEnded});
}

TEST_F(NapControllerTest, ScheduledNapStartsAfterItsDelayEndWhileIdleCancelsItAndNoDisplayRetries) {
  controller->scheduleDelayedNap(300);
  EXPECT_EQ(island->deadline, dispatcher.clock().now() + 300);
  controller->endNap();
  dispatcher.advance(301);
  EXPECT_FALSE(island->deadline || !island->calls.empty());

  windows.displays.clear();  // no display: nothing taken (the island stays), tried again every 2 s
  controller->scheduleDelayedNap(5);
  dispatcher.advance(4.9);
  EXPECT_TRUE(island->calls.empty());
  dispatcher.advance(1.2);
  expectReleased();
  EXPECT_TRUE(island->calls.empty());
  windows.displays = {ScreenInfo{Rect{0, 0, 800, 600}}};
  dispatcher.advance(2);
  EXPECT_TRUE(controller->isNapping());
  controller->scheduleDelayedNap(5);  // ignored during a nap
  EXPECT_FALSE(island->deadline);
}

TEST_F(NapControllerTest, ScreenChangesRebuildOnceAfterTheDebounceOnlyWhenFramesDifferAndNotDuringThePrompt) {
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
  EXPECT_EQ(windows.open.size(), 2u);
  EXPECT_EQ(input.monitors.size(), 3u);  // monitors stay

  requireAuth();
  input.key(InputKey::space);
  windows.displays.pop_back();
  controller->scheduleScreenRebuild();
  dispatcher.advance(1);
  EXPECT_EQ(windows.open.size(), 2u);
  authenticator.last().answer(false);
  dispatcher.advance(0.3);
  EXPECT_EQ(windows.open.size(), 1u);
}

TEST_F(NapControllerTest, AuthSuccessOrQuittingEndsTheNapAndUnavailableAuthWakesAtOnce) {
  requireAuth();
  napAndPressSpace();
  ASSERT_TRUE(controller->isAuthenticating());
  EXPECT_EQ(input.hideCount, 0);  // the pointer shows for the prompt
  EXPECT_EQ(windows.open[0]->level, NapWindowLevel::status);
  authenticator.last().answer(true);
  EXPECT_TRUE(controller->isNapping());  // the reply reaches the main queue first
  dispatcher.runUntilIdle();
  expectReleased();

  // Quitting during the prompt closes it; its late failure must not touch the next nap's prompt.
  napAndPressSpace();
  controller->endNap();
  EXPECT_EQ(authenticator.last().invalidations, 1);
  expectReleased();
  napAndPressSpace();
  dispatcher.runUntilIdle();
  EXPECT_TRUE(controller->isAuthenticating());
  EXPECT_EQ(controller->pokeCount(), 0);
  controller->endNap();

  authenticator.able = false;
  napAndPressSpace();
  expectReleased();
  // A check found impossible once asked (a locked account, a broken service) ends it too.
  authenticator.able = true;
  napAndPressSpace();
  authenticator.last().answer(AuthOutcome::unavailable);
  dispatcher.runUntilIdle();
  expectReleased();
}

// Where the grab cannot keep the keyboard from Wayland windows, a password would guard nothing
// and could be typed into another window: the nap wakes without it and says so on its first run.
TEST_F(NapControllerTest, ASessionThatCannotHoldTheKeyboardWakesWithoutThePasswordAndSaysSoOnce) {
  requireAuth();
  input.canHold = false;
  for (int nap = 0; nap < 2; ++nap) {
    napAndPressSpace();
    EXPECT_TRUE(authenticator.made.empty());
    expectReleased();
  }
  ASSERT_EQ(hints->notices.size(), 1u);
  EXPECT_NE(hints->notices[0].find("wakes without a password"), std::string::npos);
}

TEST_F(NapControllerTest, FailureCancelWatchdogOrSecondGestureCountOnePokeAndTheNapGoesOn) {
  requireAuth();
  controller->startNap();
  input.key(InputKey::escape);
  authenticator.last().answer(false);
  dispatcher.runUntilIdle();
  expectNapGoesOn(1);
  dispatcher.advance(100);  // the closed prompt's watchdog is gone
  expectNapGoesOn(1);
  // (A second gesture closes the open prompt instead of opening another: test_nap_password.)
  input.key(InputKey::space);
  dispatcher.advance(89.9);
  EXPECT_TRUE(controller->isAuthenticating());
  dispatcher.advance(0.1);  // a prompt that never answers is closed after 90 s
  expectNapGoesOn(2);
}

TEST(NapReport, TextsTruncateToWholeMinutesAndCountPokes) {
  for (const auto& [report, text] :
       std::vector<std::pair<NapReport, std::string>>{{{59.9, 0}, "Napped under a minute, nobody poked"},
                                                      {{61, 1}, "Napped 1 min, 1 poke ignored"},
                                                      {{3599, 12}, "Napped 59 min, 12 pokes ignored"},
                                                      {{7200, 0}, "Napped 2 hr, nobody poked"},
                                                      {{3900, 0}, "Napped 1 hr 5 min, nobody poked"},
                                                      {{-5, 0}, "Napped under a minute, nobody poked"}})
    EXPECT_EQ(report.durationText() + ", " + report.pokesText(), text);
}

TEST_F(NapControllerTest, KeepAwakeHoldsWhatItCanBeatsEveryThirtySecondsGivesAllBackAndOwnersOverlap) {
  for (const bool fail : {false, true}) {
    power.fail = fail;
    KeepAwake awake("r", power, dispatcher.mainQueue());
    awake.end();  // a fresh instance ignores end
    for (int i = 0; i < 2; ++i) awake.begin();  // the second changes nothing
    EXPECT_TRUE(awake.hasDisplay() == !fail && awake.hasSystem() == !fail);
    dispatcher.advance(95);                        // beats at 0, 30, 60 and 90 s, failed assertions or not
    EXPECT_EQ(power.held.size(), fail ? 1u : 3u);  // the activity slot is reused
    awake.end();
    dispatcher.advance(60);
    EXPECT_EQ(power.activityDeclarations, fail ? 8 : 4);
    EXPECT_TRUE(power.held.empty() && dispatcher.pendingCount() == 0);
  }
  power.fail = false;
  KeepAwake agents("Tovami: agents are working", power, dispatcher.mainQueue());
  controller->startNap();
  agents.begin();
  controller->endNap();
  EXPECT_EQ(power.heldFor(NapController::kKeepAwakeReason), 0);
  EXPECT_EQ(power.heldFor("Tovami: agents are working"), 3);
  dispatcher.advance(30);
  EXPECT_EQ(power.activityDeclarations, 8 + 3);  // two at begin, one beat of the agents
  agents.end();
  EXPECT_TRUE(power.held.empty());
}

}  // namespace
}  // namespace tovami
