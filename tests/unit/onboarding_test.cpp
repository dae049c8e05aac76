#include <gtest/gtest.h>

#include "app/preference_keys.h"
#include "nap_fakes.h"
#include "onboarding/onboarding_view.h"
#include "platform/motion.h"
#include "support/fake_accessibility.h"
#include "support/memory_preferences.h"
#include "support/recording_services.h"
#include "support/virtual_dispatcher.h"

namespace tovami {
namespace {

struct FakeHotKey : HotKeyControl {
  std::function<void()> nap;
  bool registered = true;
  HotKeyBinding binding{HotKeyBinding::State::bound, {}};
  std::function<void()> bindingObserver;
  void setNapHandler(std::function<void()> handler) override { nap = std::move(handler); }
  void setIslandHandler(std::function<void()>) override {}
  void registerKeys() override {}
  void unregisterKeys() override {}
  bool napKeyRegistered() const override { return registered; }
  HotKeyBinding napKeyBinding() const override { return binding; }
  int addBindingObserver(std::function<void()> observer) override {
    bindingObserver = std::move(observer);
    return 1;
  }
  void removeBindingObserver(int) override { bindingObserver = nullptr; }
};

class OnboardingTest : public ::testing::Test {
 protected:
  testing::VirtualDispatcher dispatcher;
  testing::MemoryPreferences prefs;
  FakeHotKey key;
  testing::FakeAuthenticator auth;
  testing::RecordingServices services;
  int naps = 0, hidden = 0, focusReturned = 0;
  bool notch = false, napHoldsKeyboard = true;
  FixedMotionSettings motion{false};
  testing::FakeAccessibility accessibility;

  // Opens the tour and takes it to `step`.
  std::shared_ptr<OnboardingView> open(OnboardingStep step = OnboardingStep::welcome) {
    const auto ours = [this] { return &services; };
    const AppServices app{.island = ours, .usageTracker = ours, .approvalServer = ours, .hookInstaller = ours};
    auto view = std::make_shared<OnboardingView>(
        OnboardingDependencies{prefs, dispatcher.mainQueue(), &key, [this] { ++naps; }, app, &auth,
                               &accessibility, [this] { return notch; }, &motion, napHoldsKeyboard},
        OnboardingHost{[this] { ++hidden; }, [this] { ++focusReturned; }});
    view->open();
    while (view->step() != step) view->advance();
    return view;
  }
};

TEST_F(OnboardingTest, TheWayOutOfTheHotKeyStepComesAfterTenSecondsOrAtOnceWithoutTheKey) {
  auto view = open(OnboardingStep::hotkey);
  dispatcher.advance(9.9);
  EXPECT_FALSE(view->model().fallbackAvailable());
  dispatcher.advance(0.1);
  EXPECT_TRUE(view->model().fallbackAvailable());

  auto tried = open(OnboardingStep::hotkey);
  key.nap();
  dispatcher.advance(10);
  EXPECT_FALSE(tried->model().fallbackAvailable());  // a tried key needs no way out

  key.registered = false;
  auto unavailable = open(OnboardingStep::hotkey);
  EXPECT_TRUE(unavailable->model().fallbackAvailable());
}

// The desktop answers while the step shows: its keys are the ones to press, and a refusal
// offers the way out at once.
TEST_F(OnboardingTest, TheHotKeyStepFollowsTheDesktopsAnswer) {
  key.binding = {HotKeyBinding::State::pending, {}};
  auto view = open(OnboardingStep::hotkey);
  int changes = 0;
  view->onChange = [&](TourAnimation) { ++changes; };
  key.binding = {HotKeyBinding::State::bound, "Meta+Shift+N"};
  key.bindingObserver();
  EXPECT_EQ(view->napKeys(), "Meta+Shift+N");
  EXPECT_EQ(view->napKeyProblem(), "");
  EXPECT_FALSE(view->model().fallbackAvailable());
  key.binding = {HotKeyBinding::State::refused, {}};
  key.registered = false;
  key.bindingObserver();
  EXPECT_TRUE(view->model().fallbackAvailable());
  EXPECT_NE(view->napKeyProblem().find("declined"), std::string::npos);
  EXPECT_GE(changes, 2);
  view.reset();
  EXPECT_FALSE(key.bindingObserver);
}

TEST_F(OnboardingTest, SkippingHidesTheWindowClosingOnlyEndsAndEitherCountsAsCompleted) {
  for (bool skip : {true, false}) {
    hidden = focusReturned = 0;
    prefs.setBool(prefs::kHasCompletedOnboarding, false);
    auto view = open(OnboardingStep::hotkey);
    skip ? view->finish() : view->windowWillClose();
    view->windowWillClose();  // the window closing after a skip ends nothing twice
    EXPECT_TRUE(prefs.boolValue(prefs::kHasCompletedOnboarding));
    EXPECT_EQ(std::pair(hidden, focusReturned), std::pair(skip ? 1 : 0, 1));
    const int before = naps;
    key.nap();
    EXPECT_EQ(naps, before + 1);
  }
}

// Without a password check the card is off and waking is free; in a Wayland session the card is
// off for the session's sake and the stored choice stays for X11.
TEST_F(OnboardingTest, WakeStepOffersThePasswordOnlyWhereItCanBeChecked) {
  for (bool wayland : {false, true}) {
    auth.able = wayland;
    napHoldsKeyboard = !wayland;
    prefs.setString(prefs::kWakeRequirement, "auth");
    auto view = open(OnboardingStep::wake);
    EXPECT_FALSE(view->canAuth());
    EXPECT_EQ(view->authBlockedBySession(), wayland);
    view->selectWake(true);
    EXPECT_EQ(prefs.stringValue(prefs::kWakeRequirement), wayland ? "auth" : "none");
    EXPECT_EQ(view->wakeRequiresAuth(), wayland) << wayland;
  }
}

TEST_F(OnboardingTest, IslandStepPeeksOnANotchAndItsSwitchStoresThenRefreshes) {
  notch = true;
  prefs.setBool(prefs::kIslandEnabled, true);
  auto view = open(OnboardingStep::island);
  dispatcher.advance(0.5);
  EXPECT_TRUE(services.calls.empty());
  dispatcher.advance(0.1);
  view->setIslandSwitch(false);
  EXPECT_EQ(services.calls, (std::vector<std::string>{"peek", "refresh"}));
  EXPECT_FALSE(prefs.boolValue(prefs::kIslandEnabled));
}

TEST_F(OnboardingTest, ApprovalsSwitchInstallsTheHookOnlyOnceTheServerIsStarted) {
  auto view = open(OnboardingStep::permissions);
  services.installs = false;
  view->setNotchApprovals(true);
  EXPECT_FALSE(view->notchApprovals());
  services.installs = true;
  view->setNotchApprovals(true);
  EXPECT_TRUE(view->notchApprovals());
  view->setNotchApprovals(false);
  EXPECT_FALSE(view->notchApprovals());
  view->setUsageTracking(false);
  EXPECT_EQ(services.calls, (std::vector<std::string>{"start", "install", "stop", "start", "install",
                                                      "remove", "stop", "stop"}));
}

TEST_F(OnboardingTest, GrantAsksForTheAccessibilityBusAndExplainsWhenTheDesktopRefuses) {
  auto view = open(OnboardingStep::permissions);
  EXPECT_TRUE(view->axTrusted());  // read when the step opens, without asking
  accessibility.trusted = false;
  auto refused = open(OnboardingStep::permissions);
  refused->grantAccessibility();
  EXPECT_EQ(std::tuple(refused->axTrusted(), refused->accessibilityHelp()), std::tuple(false, "turn it on"));
  accessibility.allowed = true;
  refused->grantAccessibility();
  EXPECT_EQ(std::tuple(refused->axTrusted(), refused->accessibilityHelp(), accessibility.requests),
            std::tuple(true, "", 2));
}

}  // namespace
}  // namespace tovami
