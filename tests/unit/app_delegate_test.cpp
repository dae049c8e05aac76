#include "app/app_delegate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// Every service the delegate drives, writing "<name>.<call>" to one journal.
struct Fake : Application,
              NapControl,
              IslandControl,
              StartStopControl,
              HookInstallControl,
              HotKeyControl,
              TourWindow {
  Journal& journal;
  std::string name;
  std::vector<std::string> args{"tovami"};
  Fake(Journal& j, std::string n) : journal(j), name(std::move(n)) {}
  void note(const std::string& call) { journal.push_back(name + "." + call); }
  void setAccessoryPolicy() override { note("accessory"); }
  void terminate() override { note("terminate"); }
  void exitNow(int status) override { note("exit " + std::to_string(status)); }
  std::vector<std::string> arguments() const override { return args; }
  void startNap() override { note("start"); }
  void endNap() override { note("end"); }
  bool isNapping() const override { return false; }
  void scheduleScreenRebuild() override { note("rebuild"); }
  void refresh() override { note("refresh"); }
  void toggle() override { note("toggle"); }
  void peek() override { note("peek"); }
  void teardown() override { note("teardown"); }
  void screensChanged() override { note("screens"); }
  void start() override { note("start"); }
  void stop() override { note("stop"); }
  bool install() override { return note("install"), false; }
  void installInBackground() override { note("installInBackground"); }
  bool remove() override { return true; }
  void setNapHandler(std::function<void()>) override {}
  void setIslandHandler(std::function<void()>) override {}
  void registerKeys() override { note("register"); }
  void unregisterKeys() override { note("unregister"); }
  void show() override { note("show"); }
  void orderOut() override { note("orderOut"); }
};

struct FakeScreens : ScreenProvider {
  std::vector<ScreenInfo> screens() const override { return {ScreenInfo{{0, 0, 1440, 900}, 2}}; }
};
class AppDelegateTest : public ::testing::Test {
 protected:
  Journal journal;
  VirtualDispatcher dispatcher;
  MemoryPreferences prefs;
  FakeScreens screens;
  Fake app{journal, "app"}, nap{journal, "nap"}, island{journal, "island"}, watcher{journal, "watcher"},
      usage{journal, "usage"}, server{journal, "server"}, hook{journal, "hook"},
      codexHook{journal, "codexHook"}, statusLine{journal, "statusLine"}, phonePush{journal, "phonePush"};
  int tours = 0;

  std::shared_ptr<AppDelegate> makeDelegate() {
    const auto of = [](Fake& fake) { return [&fake] { return &fake; }; };
    AppServices services{of(nap), of(island), of(watcher), of(usage), of(server), of(hook), of(codexHook),
                         of(statusLine), of(phonePush), [this](HotKeyControl*) {
                           return std::make_unique<Fake>(journal, "tour" + std::to_string(++tours));
                         }};
    return std::make_shared<AppDelegate>(AppEnvironment{app, dispatcher, prefs, screens}, std::move(services),
                                         std::make_unique<Fake>(journal, "keys"));
  }
};

TEST_F(AppDelegateTest, LaunchAndTerminationRunTheirStepsInOrderAndSkipWhatIsTurnedOffOrMissing) {
  prefs.setBool(prefs::kNotchApprovals, true);
  auto first = makeDelegate();
  first->applicationDidFinishLaunching();
  // The hot keys at once; the services once the tray item has had its moment.
  EXPECT_EQ(journal, (Journal{"app.accessory", "keys.register"}));
  dispatcher.advance(0.29);
  EXPECT_EQ(journal.size(), 2u);
  dispatcher.advance(0.02);
  EXPECT_EQ(journal, (Journal{"app.accessory", "keys.register", "island.refresh", "watcher.start",
                              "usage.start", "server.start", "hook.installInBackground", "tour1.show"}));
  prefs.setBool(prefs::kNotchApprovals, false);
  prefs.setBool(prefs::kHasCompletedOnboarding, true);
  journal.clear();
  auto second = makeDelegate();
  second->applicationDidFinishLaunching();
  dispatcher.advance(1);
  EXPECT_EQ(journal.back(), "usage.start");

  // Termination runs once; screen changes reach the nap, then the island; missing services are skipped.
  journal.clear();
  second->applicationWillTerminate();
  second->applicationWillTerminate();  // a second signal during shutdown does nothing more
  second->screensChanged();
  EXPECT_EQ(journal, (Journal{"nap.end", "island.teardown", "watcher.stop", "usage.stop", "server.stop",
                              "keys.unregister", "nap.rebuild", "island.screens"}));
  journal.clear();
  auto bare = std::make_shared<AppDelegate>(AppEnvironment{app, dispatcher, prefs, screens}, AppServices{}, nullptr);
  bare->applicationDidFinishLaunching();
  dispatcher.advance(1);
  bare->applicationWillTerminate();
  bare->screensChanged();
  EXPECT_EQ(journal, (Journal{"app.accessory"}));
  // A quit before the services' moment starts none of them.
  journal.clear();
  auto quitting = makeDelegate();
  quitting->applicationDidFinishLaunching();
  quitting->applicationWillTerminate();
  dispatcher.advance(1);
  EXPECT_EQ(journal.back(), "keys.unregister");
  // Codex's switch alone also starts the server, then its hook; the status line feed needs the
  // server too; the phone pushes' entry needs none.
  prefs.setBool(prefs::kCodexApprovals, true);
  prefs.setBool(prefs::kStatusLineFeed, true);
  prefs.setBool(prefs::kPhonePushWhileAway, true);
  journal.clear();
  auto third = makeDelegate();
  third->applicationDidFinishLaunching();
  dispatcher.advance(1);
  EXPECT_EQ(Journal(journal.end() - 4, journal.end()),
            (Journal{"server.start", "codexHook.installInBackground", "statusLine.installInBackground",
                     "phonePush.installInBackground"}));
}

TEST_F(AppDelegateTest, ShowTourSwitchReplacesTheFirstTourAfterOneSecondWhileTheDelegateLives) {
  app.args = {"tovami", "--show-tour"};
  auto delegate = makeDelegate();
  delegate->applicationDidFinishLaunching();
  dispatcher.advance(0.5);
  EXPECT_EQ(journal.back(), "tour1.show");
  journal.clear();
  dispatcher.advance(0.49);
  EXPECT_TRUE(journal.empty());
  dispatcher.advance(0.02);
  EXPECT_EQ(journal, (Journal{"tour1.orderOut", "tour2.show"}));
  EXPECT_FALSE(prefs.boolValue(prefs::kHasCompletedOnboarding));

  prefs.setBool(prefs::kHasCompletedOnboarding, true);
  makeDelegate()->applicationDidFinishLaunching();  // this delegate dies at once
  journal.clear();
  dispatcher.advance(2);
  EXPECT_TRUE(journal.empty());
}

// Seeding stores nothing on a relaunch; the island follows the displays; "auth" alone asks for a password.
TEST(Seeding, StoresNothingOnARelaunchAndReadsTheWakeRequirementStrictly) {
  MemoryPreferences prefs;
  seedPreferences(prefs, false);
  prefs.writes.clear();
  seedPreferences(prefs, true);  // a relaunch on a machine with a notch changes nothing stored
  EXPECT_TRUE(prefs.writes.empty());
  MemoryPreferences notched;
  seedPreferences(notched, true);
  EXPECT_TRUE(notched.boolValue(prefs::kIslandEnabled));

  EXPECT_FALSE(wakeRequiresAuthentication(prefs));
  prefs.setString(prefs::kWakeRequirement, "none");
  EXPECT_FALSE(wakeRequiresAuthentication(prefs));
  using namespace std::string_view_literals;
  for (auto value : {"auth"sv, "AUTH"sv, ""sv, "au\0th"sv}) {  // damaged values fail closed
    prefs.setString(prefs::kWakeRequirement, value);
    EXPECT_TRUE(wakeRequiresAuthentication(prefs)) << value;
  }
  prefs.setBool(prefs::kWakeRequirement, false);
  EXPECT_TRUE(wakeRequiresAuthentication(prefs));
}

}  // namespace
}  // namespace tovami
