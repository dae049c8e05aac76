#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "nap/dot_constellation.h"
#include "nap/nap_overlay_view.h"
#include "nap/overlay_state.h"
#include "nap/pixel_cat_scene.h"
#include "pixel_art/palette.h"
#include "pixel_art/pixel_figures.h"
#include "support/recording_canvas.h"
#include "support/virtual_dispatcher.h"

namespace tovami {
namespace {

using testing::RecordingCanvas;
using testing::ScriptedRandom;
using testing::VirtualDispatcher;
using Pose = PixelCatScene::Pose;

constexpr Seconds kEps = 1e-6;

class PoseCycleTest : public ::testing::Test {
 protected:
  // Random draws: 0 gives the shortest sleep (14 breaths) and stroll (22 steps).
  std::unique_ptr<PixelCatScene> makeScene(std::vector<uint64_t> draws, bool reduceMotion = false) {
    random = std::make_shared<ScriptedRandom>(std::move(draws));
    return std::make_unique<PixelCatScene>(dispatcher, random, reduceMotion,
                                           [this](Rect area) { dirty.push_back(area); });
  }
  VirtualDispatcher dispatcher;
  std::shared_ptr<ScriptedRandom> random;
  std::vector<Rect> dirty;
};

TEST_F(PoseCycleTest, SleepsWakesStrollsAndSleepsAgainWhereItRests) {
  auto scene = makeScene({0});
  scene->appear();
  EXPECT_TRUE(scene->pose() == Pose::sleep && scene->zCount() == 0);
  bool walked = false;
  for (int i = 0; i < 400 && !(walked && scene->pose() == Pose::sleep); ++i) {
    dispatcher.advance(0.1);
    walked |= scene->pose() == Pose::walk;
  }
  EXPECT_TRUE(walked && scene->pose() == Pose::sleep);
  EXPECT_NE(scene->offsetX(), 0);

  // Repaints cover only the cat (or the twinkling dots), and stop when the scene is gone.
  ASSERT_FALSE(dirty.empty());
  for (const auto& area : dirty)
    EXPECT_TRUE(area == DotConstellationView::dotBounds() || (area.width <= 200 && area.height <= 100))
        << area.width << " x " << area.height;
  scene->disappear();
  const size_t seen = dirty.size();
  dispatcher.advance(60);
  EXPECT_EQ(dirty.size(), seen);
}

TEST_F(PoseCycleTest, NeverStrollsBeyondTheTurningPointAndOneStep) {
  // The longest sleeps and strolls, many cycles.
  auto scene = makeScene({10, 14});
  double widest = 0;
  bool turned = false;
  scene->appear();
  for (int i = 0; i < 4000; ++i) {
    dispatcher.advance(0.15);
    widest = std::max(widest, std::abs(scene->offsetX()));
    if (scene->pose() == Pose::walk && std::abs(scene->offsetX()) > 168) turned = true;
  }
  EXPECT_TRUE(turned);
  EXPECT_LE(widest, 168 + 9);
}

TEST(OverlayStateHint, ShowsAtFirstTouchAndHidesThreeAndAHalfSecondsAfterTheLast) {
  VirtualDispatcher dispatcher;
  auto state = std::make_shared<OverlayState>(dispatcher);
  std::vector<bool> seen;
  state->addObserver([&](bool visible) { seen.push_back(visible); });
  // Each row: touches `every` seconds apart for `lasting` seconds, then the hint's state `after` the last.
  const std::tuple<Seconds, Seconds, Seconds, bool> rows[] = {
      {0, 0, 3.5 - kEps, true}, {0, 0, 3.5 + kEps, false},
      {0.1, 10, 3.0, true},  // motion every 0.1 s: re-armed every 0.25 s at most
      {0.1, 10, 3.6, false}, {0.2, 0.2, 3.3 + kEps, false}};  // too soon to re-arm
  for (const auto& [every, lasting, after, visible] : rows) {
    state->reset();
    for (Seconds t = 0; t <= lasting + kEps; t += std::max(every, kEps)) {
      state->showHint();
      if (every == 0) break;
      dispatcher.advance(every);
      EXPECT_TRUE(state->hintVisible());
    }
    dispatcher.advance(after - (every == 0 ? 0 : every));
    EXPECT_EQ(state->hintVisible(), visible) << every << " " << after;
  }
  EXPECT_EQ(std::vector<bool>(seen.begin(), seen.begin() + 2), (std::vector<bool>{true, false}));
  state->reset();
  EXPECT_FALSE(state->hintVisible());
  EXPECT_EQ(dispatcher.pendingCount(), 0u);
  state->showHint();
  state.reset();
  dispatcher.advance(5);  // a hide timer never outlives the state
}

TEST(NapOverlay, FadesTheHintInUnlessTheDesktopAsksForLessMotion) {
  VirtualDispatcher dispatcher;
  auto state = std::make_shared<OverlayState>(dispatcher);
  auto random = std::make_shared<ScriptedRandom>(std::vector<uint64_t>{0});
  NapOverlayView view(state, dispatcher, random, false, nullptr), still(state, dispatcher, random, true, nullptr);
  view.setBounds({1280, 800});
  view.appear(), still.appear();
  RecordingCanvas quiet;
  view.draw(quiet);
  EXPECT_TRUE(quiet.runs.empty());

  state->showHint();
  EXPECT_DOUBLE_EQ(still.hintFade(), 1);  // no fade under reduce motion
  dispatcher.advance(0.25);
  EXPECT_TRUE(view.hintFade() > 0.2 && view.hintFade() < 0.8) << view.hintFade();
  dispatcher.advance(0.3);
  EXPECT_DOUBLE_EQ(view.hintFade(), 1);
  RecordingCanvas hinted;
  view.draw(hinted);
  EXPECT_TRUE(hinted.runs.size() == 1 && hinted.runs[0].text == "Space or click to wake");
  view.disappear();
  still.disappear();
}

TEST(CollapsedCatBadge, BlinksOnlyWhileItNeedsTheUserAndStaysStillUnderReduceMotion) {
  VirtualDispatcher dispatcher;
  auto random = std::make_shared<ScriptedRandom>(std::vector<uint64_t>{0});
  int changes = 0;
  CollapsedCatBadge badge(CollapsedCatBadge::Mood::needsYou, false, dispatcher.mainQueue(), random,
                          [&] { ++changes; });
  badge.appear();
  dispatcher.advance(2.61);
  EXPECT_TRUE(badge.blinking());
  dispatcher.advance(0.14);
  EXPECT_FALSE(badge.blinking());
  EXPECT_EQ(changes, 2);

  badge.setMood(CollapsedCatBadge::Mood::working);
  dispatcher.advance(60);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(dispatcher.pendingCount(), 0u);

  // The working cat strides and stands by turns, the sleeping one breathes; under reduce motion
  // nothing blinks or moves.
  for (const bool reduce : {false, true}) {
    CollapsedCatBadge cat(CollapsedCatBadge::Mood::needsYou, reduce, dispatcher.mainQueue(), random, nullptr);
    cat.appear();
    for (const auto& [mood, interval] : {std::pair{CollapsedCatBadge::Mood::working, 0.45},
                                         std::pair{CollapsedCatBadge::Mood::asleep, 1.2}}) {
      cat.setMood(mood);
      EXPECT_EQ(cat.frameInterval(), reduce ? std::nullopt : std::optional(interval));
      EXPECT_EQ(cat.catRows(0.1) == cat.catRows(0.1 + interval), reduce);
    }
    cat.setMood(CollapsedCatBadge::Mood::needsYou);
    dispatcher.advance(60);
    EXPECT_EQ(!cat.blinking() && dispatcher.pendingCount() == 0, reduce);
  }
}

}  // namespace
}  // namespace tovami
