#include "app/app_delegate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/preference_keys.h"
#include "platform/application.h"
#include "platform/screens.h"
#include "support/memory_preferences.h"
#include "support/virtual_dispatcher.h"

namespace tovami {
namespace {

using testing::MemoryPreferences;
using testing::VirtualDispatcher;
using Journal = std::vector<std::string>;

struct FakeApplication : Application {
  Journal& journal;
  std::vector<std::string> args{"tovami"};
  explicit FakeApplication(Journal& j) : journal(j) {}
  void setAccessoryPolicy() override { journal.push_back("accessory"); }
  void terminate() override { journal.push_back("terminate"); }
  void exitNow(int status) override { journal.push_back("exit " + std::to_string(status)); }
  std::vector<std::string> arguments() const override { return args; }
};

struct FakeScreens : ScreenProvider {
  bool notch = false;
  std::vector<ScreenInfo> screens() const override { return {ScreenInfo{{0, 0, 1440, 900}, 2, notch}}; }
};

struct FakeNap : NapControl {
  Journal& journal;
  explicit FakeNap(Journal& j) : journal(j) {}
  void startNap() override { journal.push_back("nap.start"); }
  void endNap() override { journal.push_back("nap.end"); }
  bool isNapping() const override { return false; }
  void scheduleScreenRebuild() override { journal.push_back("nap.rebuild"); }
};

struct FakeIsland : IslandControl {
  Journal& journal;
  explicit FakeIsland(Journal& j) : journal(j) {}
  void refresh() override { journal.push_back("island.refresh"); }
  void toggle() override { journal.push_back("island.toggle"); }
  void teardown() override { journal.push_back("island.teardown"); }
  void screensChanged() override { journal.push_back("island.screens"); }
};

struct FakeStartStop : StartStopControl {
  Journal& journal;
  std::string name;
  FakeStartStop(Journal& j, std::string n) : journal(j), name(std::move(n)) {}
  void start() override { journal.push_back(name + ".start"); }
  void stop() override { journal.push_back(name + ".stop"); }
};

struct FakeHook : HookInstallControl {
  Journal& journal;
  explicit FakeHook(Journal& j) : journal(j) {}
  bool install() override {
    journal.push_back("hook.install");
    return false;
  }
  bool remove() override { return true; }
};

struct FakeHotKeys : HotKeyControl {
  Journal& journal;
  std::function<void()> nap, island;
  explicit FakeHotKeys(Journal& j) : journal(j) {}
  void setNapHandler(std::function<void()> h) override { nap = std::move(h); }
  void setIslandHandler(std::function<void()> h) override { island = std::move(h); }
  void registerKeys() override { journal.push_back("keys.register"); }
  void unregisterKeys() override { journal.push_back("keys.unregister"); }
};

struct FakeTour : TourWindow {
  Journal& journal;
  int number;
  FakeTour(Journal& j, int n) : journal(j), number(n) {}
  void show() override { journal.push_back("tour" + std::to_string(number) + ".show"); }
  void orderOut() override { journal.push_back("tour" + std::to_string(number) + ".orderOut"); }
};

class AppDelegateTest : public ::testing::Test {
 protected:
  Journal journal;
  VirtualDispatcher dispatcher;
  MemoryPreferences prefs;
  FakeApplication app{journal};
  FakeScreens screens;
  FakeNap nap{journal};
  FakeIsland island{journal};
  FakeStartStop watcher{journal, "watcher"}, usage{journal, "usage"}, server{journal, "server"};
  FakeHook hook{journal};
  int tours = 0;
  FakeHotKeys* hotKeys = nullptr;

  std::shared_ptr<AppDelegate> makeDelegate() {
    AppServices services;
    services.nap = [this] { return &nap; };
    services.island = [this] { return &island; };
    services.agentWatcher = [this] { return &watcher; };
    services.usageTracker = [this] { return &usage; };
    services.approvalServer = [this] { return &server; };
    services.hookInstaller = [this] { return &hook; };
    services.makeTourWindow = [this](HotKeyControl*) { return std::make_unique<FakeTour>(journal, ++tours); };
    services.oneShotHandlers[std::string(switches::kRenderOverlay)] = [this](const std::string& value) {
      journal.push_back("render-overlay " + value);
      app.terminate();
    };
    auto keys = std::make_unique<FakeHotKeys>(journal);
    hotKeys = keys.get();
    return std::make_shared<AppDelegate>(AppEnvironment{app, dispatcher, prefs, screens}, std::move(services),
                                         std::move(keys));
  }
};

TEST_F(AppDelegateTest, LaunchRunsItsStepsInOrder) {
  prefs.setBool(prefs::kNotchApprovals, true);
  auto delegate = makeDelegate();
  delegate->applicationDidFinishLaunching();
  EXPECT_EQ(journal, (Journal{"accessory", "keys.register", "island.refresh", "watcher.start", "usage.start",
                              "hook.install", "server.start", "tour1.show"}));
  EXPECT_EQ(AppDelegate::shared(), delegate);
}

TEST_F(AppDelegateTest, TerminationRunsTheReverseOrder) {
  auto delegate = makeDelegate();
  delegate->applicationWillTerminate();
  delegate->applicationWillTerminate();  // a second signal during shutdown does nothing more
  EXPECT_EQ(journal, (Journal{"nap.end", "island.teardown", "watcher.stop", "usage.stop", "server.stop",
                              "keys.unregister"}));
}

TEST_F(AppDelegateTest, CompletedTourAndApprovalsOffSkipTheirSteps) {
  prefs.setBool(prefs::kHasCompletedOnboarding, true);
  auto delegate = makeDelegate();
  delegate->applicationDidFinishLaunching();
  EXPECT_EQ(journal,
            (Journal{"accessory", "keys.register", "island.refresh", "watcher.start", "usage.start"}));
}

TEST_F(AppDelegateTest, HotKeyActionsReachTheNapAndTheIsland) {
  prefs.setBool(prefs::kHasCompletedOnboarding, true);
  auto delegate = makeDelegate();
  delegate->applicationDidFinishLaunching();
  journal.clear();
  hotKeys->nap();
  hotKeys->island();
  EXPECT_EQ(journal, (Journal{"nap.start", "island.toggle"}));
}

TEST_F(AppDelegateTest, OneShotSwitchRunsAndNothingElseStarts) {
  app.args = {"tovami", "--render-island", "--render-overlay", "/tmp/x.png"};
  // "--render-island" takes "--render-overlay" as its value, but no handler exists for it in this
  // build: the program says so and ends with status 2.
  auto delegate = makeDelegate();
  delegate->applicationDidFinishLaunching();
  EXPECT_EQ(journal, (Journal{"accessory", "exit 2"}));

  journal.clear();
  app.args = {"tovami", "--render-overlay", "/tmp/x.png"};
  makeDelegate()->applicationDidFinishLaunching();
  EXPECT_EQ(journal, (Journal{"accessory", "render-overlay /tmp/x.png", "terminate"}));
  EXPECT_TRUE(prefs.writes.empty());  // no seeding in one-shot runs
  EXPECT_TRUE(delegate->ranOneShot());
}

TEST_F(AppDelegateTest, ShowTourSwitchReplacesTheFirstTourAfterOneSecond) {
  app.args = {"tovami", "--show-tour"};
  auto delegate = makeDelegate();
  delegate->applicationDidFinishLaunching();
  EXPECT_EQ(journal.back(), "tour1.show");
  journal.clear();
  dispatcher.advance(0.99);
  EXPECT_TRUE(journal.empty());
  dispatcher.advance(0.02);
  EXPECT_EQ(journal, (Journal{"tour1.orderOut", "tour2.show"}));
  EXPECT_FALSE(prefs.boolValue(prefs::kHasCompletedOnboarding));
}

TEST_F(AppDelegateTest, ShowTourDoesNothingOnceTheDelegateIsGone) {
  app.args = {"tovami", "--show-tour"};
  prefs.setBool(prefs::kHasCompletedOnboarding, true);
  makeDelegate()->applicationDidFinishLaunching();  // the delegate dies here
  journal.clear();
  dispatcher.advance(2);
  EXPECT_TRUE(journal.empty());
}

TEST_F(AppDelegateTest, ScreenChangesReachTheNapThenTheIsland) {
  makeDelegate()->screensChanged();
  EXPECT_EQ(journal, (Journal{"nap.rebuild", "island.screens"}));
}

TEST_F(AppDelegateTest, ServicesMissingFromTheBuildAreSkipped) {
  AppServices none;
  AppDelegate delegate(AppEnvironment{app, dispatcher, prefs, screens}, none, nullptr);
  delegate.applicationDidFinishLaunching();
  delegate.applicationWillTerminate();
  EXPECT_EQ(journal, (Journal{"accessory"}));
  EXPECT_TRUE(prefs.hasValue(prefs::kAgentWatchEnabled));
}

// Seeding fills absent keys only, and the island follows the displays.
TEST(Seeding, StoresOnlyAbsentKeys) {
  MemoryPreferences prefs;
  prefs.setBool(prefs::kAgentWatchEnabled, false);
  seedPreferences(prefs, false);
  EXPECT_FALSE(prefs.boolValue(prefs::kAgentWatchEnabled));
  EXPECT_FALSE(prefs.boolValue(prefs::kIslandEnabled));
  EXPECT_TRUE(prefs.hasValue(prefs::kIslandEnabled));
  for (auto key : {prefs::kAgentKeepAwake, prefs::kAgentShowSnippets, prefs::kAgentOpensIsland,
                   prefs::kAgentQuietSound, prefs::kUsageTracking})
    EXPECT_TRUE(prefs.boolValue(key)) << key;
  for (auto key :
       {prefs::kBatteryGuard, prefs::kNotchApprovals, prefs::kIslandOnNonNotch, prefs::kWakeRequirement})
    EXPECT_FALSE(prefs.hasValue(key)) << key;

  // A relaunch, now on a machine with a notch, changes nothing already stored.
  prefs.writes.clear();
  seedPreferences(prefs, true);
  EXPECT_TRUE(prefs.writes.empty());
  EXPECT_FALSE(prefs.boolValue(prefs::kIslandEnabled));

  MemoryPreferences notched;
  seedPreferences(notched, true);
  EXPECT_TRUE(notched.boolValue(prefs::kIslandEnabled));
}

TEST(Seeding, WakeWithoutAuthenticationUnlessAuthIsStored) {
  MemoryPreferences prefs;
  EXPECT_FALSE(wakeRequiresAuthentication(prefs));
  prefs.setString(prefs::kWakeRequirement, "AUTH");
  EXPECT_FALSE(wakeRequiresAuthentication(prefs));
  prefs.setString(prefs::kWakeRequirement, "auth");
  EXPECT_TRUE(wakeRequiresAuthentication(prefs));
}

}  // namespace
}  // namespace tovami
