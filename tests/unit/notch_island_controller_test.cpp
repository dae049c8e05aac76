#include "island/notch_island_controller.h"

#include <gtest/gtest.h>

#include <sstream>

#include "app/preference_keys.h"
#include "platform/motion.h"
#include "support/memory_preferences.h"
#include "support/virtual_dispatcher.h"

namespace tovami {
namespace {

using namespace tovami::testing;

struct FakePanel : IslandPanel {
  std::vector<Rect> frames;
  std::vector<bool> fades;  // one per showing: faded in or not
  bool shown = false;
  void setFrame(const Rect& frame) override { frames.push_back(frame); }
  void orderFront(bool fadeIn) override { shown = true, fades.push_back(fadeIn); }
  void orderOut() override { shown = false; }
  bool isShown() const override { return shown; }
};

// A 1440 × 900 display whose free area starts `topPanel` points down, with or without a housing.
ScreenInfo display(double topPanel, std::optional<Size> housing = std::nullopt) {
  return {{0, 0, 1440, 900}, 2, housing, {0, topPanel, 1440, 900 - topPanel}, true};
}

// The fixture is the desktop: its displays and its reduce-motion wish.
class NotchIslandControllerTest : public ::testing::Test, public ScreenProvider, public MotionSettings {
 protected:
  NotchIslandControllerTest() { preferences.setBool(prefs::kIslandOnNonNotch, true); }
  std::shared_ptr<NotchIslandController> make() {
    return std::make_shared<NotchIslandController>(NotchIslandControllerDependencies{
        dispatcher, preferences, *this, *this, [] { return std::make_unique<FakePanel>(); },
        [this] { return approval; }});
  }
  std::vector<ScreenInfo> screens() const override { return list; }
  bool reduceMotion() const override { return still; }
  FakePanel& panel() { return *static_cast<FakePanel*>(island->panel()); }
  bool shown() { return island->panel() && island->panel()->isShown(); }
  std::string play(const std::string& script);

  VirtualDispatcher dispatcher;
  MemoryPreferences preferences;
  std::vector<ScreenInfo> list{display(37)};
  bool approval = false, still = false;
  std::shared_ptr<NotchIslandController> island = make();
};

TEST_F(NotchIslandControllerTest, PlacementFollowsTheDisplaysAndTheirSwitch) {
  const std::tuple<ScreenInfo, IslandMode, Size, Rect> cases[] = {
      {display(37), IslandMode::pill, {180, 29}, {370, 0, 700, 561}},
      {display(0), IslandMode::pill, {180, 16}, {370, 0, 700, 548}},
      {display(600), IslandMode::pill, {180, 16}, {370, 0, 700, 548}},  // no top panel is that tall
      {display(0, Size{204, 38}), IslandMode::notch, {204, 38}, {370, 0, 700, 520}},
  };
  preferences.setBool(prefs::kIslandEnabled, true);
  for (const auto& [screen, mode, collapsed, frame] : cases) {
    list = {ScreenInfo{{0, 0, 800, 600}}, screen};
    island->refresh();
    EXPECT_TRUE(island->state().mode() == mode && island->state().collapsedSize() == collapsed && shown());
    EXPECT_EQ(panel().frames.back(), frame);
  }
  // With a housing present the other switch decides.
  island->setEnabled(false);
  EXPECT_FALSE(preferences.boolValue(prefs::kIslandEnabled) || shown());
  list = {display(24)};  // the housing's display unplugged, in a burst of changes: one refresh
  for (int i = 0; i < 4; ++i) island->screensChanged(), dispatcher.advance(0.1);
  EXPECT_FALSE(shown());
  dispatcher.advance(0.2);
  EXPECT_TRUE(island->isEnabled() && shown());
}

// Runs a script of events and delays on a new, shown island and describes where it ends. The last
// island goes with its delayed work still pending, which must then do nothing.
std::string NotchIslandControllerTest::play(const std::string& script) {
  preferences.setBool(prefs::kIslandOnNonNotch, true), approval = false, still = false, list = {display(37)};
  (island = make())->refresh();
  std::istringstream words(script);
  for (std::string word; words >> word;) {
    if (word == "nap" || word == "wake") island->setNapping(word == "nap", std::nullopt);
    if (word == "wake+report") island->setNapping(false, NapReport{600, 1});
    if (word == "announce") island->announce();
    if (word == "approval") approval = true, island->openForApproval();
    if (word == "answered") approval = false, island->scheduleCollapseCheck();
    if (word == "toggle") island->toggle();
    if (word == "peek") island->peek();
    if (word == "notched")
      preferences.setBool(prefs::kIslandEnabled, true), list = {display(0, Size{200, 32})};
    if (word == "hover") island->state().hoverChanged(true);
    if (word == "reopen") island->state().expand();
    if (word == "off") preferences.setBool(prefs::kIslandOnNonNotch, false);
    if (word == "still") still = true;
    if (word == "unplug") list.clear(), island->refresh();
    if (word == "plug") list = {display(24)}, island->refresh();
    if (std::isdigit(word[0])) dispatcher.advance(std::stod(word));
  }
  return std::string(shown() ? "shown" : "hidden") + (shown() && panel().fades.back() ? " faded" : "") +
         (island->state().isExpanded() ? " open" : "") + (island->state().wakeReport() ? " report" : "");
}

TEST_F(NotchIslandControllerTest, EventsOpenAndCloseTheIslandOnTime) {
  const std::pair<const char*, const char*> cases[] = {
      {"nap toggle", "hidden"},  // the hot key does nothing during a nap
      {"nap wake+report 0.24", "shown faded report"},
      {"nap wake+report 0.25", "shown faded open report"},
      {"nap wake+report 6.25", "shown faded report"},
      {"nap wake+report 6.85", "shown faded"},
      {"nap wake+report 6.25 reopen 1", "shown faded open report"},  // opened again: the report stays
      {"wake+report 0.25 toggle", "shown faded report"},
      {"still nap wake", "shown"},
      {"announce 4.9", "shown open"},
      {"announce 5", "shown"},
      {"announce hover 5", "shown open"},
      {"toggle 1 announce 5", "shown open"},  // already open: no close is scheduled
      {"announce 1 approval 5", "shown open"},
      {"approval answered 0.5", "shown"},
      {"approval answered 0.3 approval 1", "shown open"},
      {"approval hover answered 1", "shown open"},
      {"nap off wake+report announce approval toggle 10", "hidden"},
      {"notched peek 1.59", "shown open"},
      {"notched peek 1.6", "shown"},
      {"toggle unplug", "hidden"},
      {"toggle unplug plug", "shown"},
      {"unplug nap wake+report 1", "hidden"},
  };
  for (const auto& [script, expected] : cases) EXPECT_EQ(play(script), expected) << script;
}

}  // namespace
}  // namespace tovami
