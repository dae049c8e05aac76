#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "nap/dot_constellation.h"
#include "nap/nap_overlay_view.h"
#include "nap/overlay_state.h"
#include "nap/pixel_cat_scene.h"
#include "support/recording_canvas.h"
#include "support/virtual_dispatcher.h"

namespace tovami {
namespace {

using testing::RecordingCanvas;
using testing::ScriptedRandom;
using testing::VirtualDispatcher;
using Pose = PixelCatScene::Pose;

constexpr Seconds kEps = 1e-6;

TEST(DotConstellation, GeneratorMatchesHandComputedDrawsAndGroupsTwinkleInTurn) {
  ConstellationRandom random;
  EXPECT_NEAR(random.nextFraction(), 0.028626025893871213, 1e-15);
  EXPECT_NEAR(random.nextFraction(), 0.24615338683271626, 1e-15);

  const auto& dots = DotConstellationView::dots();
  ASSERT_EQ(dots.size(), 44u);
  EXPECT_NEAR(dots[0].x, 18.320656572077574, 1e-9);
  EXPECT_NEAR(dots[0].y, 44.30760962988893, 1e-9);
  EXPECT_NEAR(dots[0].size, 2.903336763359452, 1e-12);
  EXPECT_NEAR(dots[0].opacity, 0.11773369846114276, 1e-12);
  EXPECT_NEAR(dots[1].x, 292.6043181802622, 1e-9);
  EXPECT_NEAR(dots[1].opacity, 0.1486546246331778, 1e-12);
  for (size_t k = 0; k < dots.size(); ++k) {
    EXPECT_EQ(dots[k].group, static_cast<int>(k % 3));
    EXPECT_LT(dots[k].x, 320);  // draws stay below one half
    EXPECT_LT(dots[k].y, 90);
  }

  // One group brightens in turn; under reduce motion nothing moves.
  EXPECT_EQ(DotConstellationView::groupAt(0.1), 0);
  EXPECT_EQ(DotConstellationView::groupAt(1.5), 1);
  EXPECT_EQ(DotConstellationView::groupAt(4.3), 0);

  VirtualDispatcher dispatcher;
  int redraws = 0;
  DotConstellationView moving(false, dispatcher, [&](Rect) { ++redraws; });
  moving.appear();
  dispatcher.advance(1.4 * 10 + kEps);
  EXPECT_GE(redraws, 9);
  RecordingCanvas canvas;
  moving.draw(canvas, {});
  const int bright = *moving.currentGroup();
  for (size_t k = 0; k < canvas.fills.size(); ++k) {
    const auto& dot = DotConstellationView::dots()[k];
    const double expected = std::min(dot.opacity * (dot.group == bright ? 1.6 : 1.0), 0.35);
    EXPECT_DOUBLE_EQ(canvas.fills[k].color.opacity, expected);
  }
  moving.disappear();

  DotConstellationView still(true, dispatcher, [&](Rect) { ++redraws; });
  still.appear();
  const int before = redraws;
  dispatcher.advance(60);
  EXPECT_EQ(redraws, before);
  EXPECT_FALSE(still.currentGroup());
  EXPECT_EQ(dispatcher.pendingCount(), 0u);
}

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

TEST_F(PoseCycleTest, SleepsBreathingWithMarksThenWakesLooksAroundStrollsAndRests) {
  auto scene = makeScene({0});
  scene->appear();
  EXPECT_EQ(scene->pose(), Pose::sleep);
  EXPECT_EQ(scene->zCount(), 0);

  // A breath every 0.9 s; the first mark 2.7 s after falling asleep, then 2, 3, 1...
  dispatcher.advance(0.9 - kEps);
  EXPECT_FALSE(scene->altFrame());
  dispatcher.advance(2 * kEps);
  EXPECT_TRUE(scene->altFrame());
  dispatcher.advance(0.9);
  EXPECT_FALSE(scene->altFrame());
  dispatcher.advance(0.9 - 2 * kEps);
  EXPECT_EQ(scene->zCount(), 0);
  dispatcher.advance(2 * kEps);
  EXPECT_EQ(scene->zCount(), 1);
  dispatcher.advance(2.7);
  EXPECT_EQ(scene->zCount(), 2);
  dispatcher.advance(2.7);
  EXPECT_EQ(scene->zCount(), 3);
  dispatcher.advance(2.7);
  EXPECT_EQ(scene->zCount(), 1);

  // 14 breaths end at 12.6 s: the cat sits up, looks away at 14.0 and back at 14.9.
  dispatcher.advance(12.6 - dispatcher.elapsed() + kEps);
  EXPECT_EQ(scene->pose(), Pose::sit);
  EXPECT_EQ(scene->zCount(), 0);
  EXPECT_TRUE(scene->facingRight());
  dispatcher.advance(1.4);
  EXPECT_FALSE(scene->facingRight());
  dispatcher.advance(0.9);
  EXPECT_TRUE(scene->facingRight());
  dispatcher.advance(0.9);
  EXPECT_EQ(scene->pose(), Pose::walk);

  // 22 steps of 9 points every 0.15 s, then a rest of 1.1 s where it stands, then sleep.
  dispatcher.advance(0.15 * 22 - kEps * 10);
  EXPECT_EQ(scene->pose(), Pose::walk);
  dispatcher.advance(kEps * 20);
  EXPECT_EQ(scene->pose(), Pose::sit);
  const double restingAt = scene->offsetX();
  EXPECT_NE(restingAt, 0);
  dispatcher.advance(1.1);
  EXPECT_EQ(scene->pose(), Pose::sleep);
  EXPECT_EQ(scene->offsetX(), restingAt);
  EXPECT_EQ(random->draws, 3);

  // Repaints cover only the cat (or the twinkling dots), and stop when the scene is gone.
  ASSERT_FALSE(dirty.empty());
  for (const auto& area : dirty) {
    if (area == DotConstellationView::dotBounds()) continue;
    EXPECT_LE(area.width, 200);
    EXPECT_LE(area.height, 100);
  }
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

TEST_F(PoseCycleTest, UnderReduceMotionTheCatSleepsStillUnderThreeMarks) {
  auto scene = makeScene({0}, true);
  scene->appear();
  dispatcher.advance(120);
  EXPECT_EQ(scene->pose(), Pose::sleep);
  EXPECT_EQ(scene->zCount(), 3);
  EXPECT_FALSE(scene->altFrame());
  EXPECT_EQ(scene->offsetX(), 0);
  EXPECT_EQ(dispatcher.pendingCount(), 0u);
  EXPECT_EQ(random->draws, 0);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(scene->markVisible(i));
  // The largest mark is the one that shows alone.
  EXPECT_GT(scene->markRect(2).width, scene->markRect(0).width);
}

TEST(OverlayStateHint, ShowsAtFirstTouchAndHidesThreeAndAHalfSecondsAfterTheLast) {
  VirtualDispatcher dispatcher;
  auto state = std::make_shared<OverlayState>(dispatcher);
  std::vector<bool> seen;
  state->addObserver([&](bool visible) { seen.push_back(visible); });

  state->showHint();
  EXPECT_TRUE(state->hintVisible());
  dispatcher.advance(3.5 - kEps);
  EXPECT_TRUE(state->hintVisible());
  dispatcher.advance(2 * kEps);
  EXPECT_FALSE(state->hintVisible());
  EXPECT_EQ(seen, (std::vector<bool>{true, false}));

  // Pointer motion every 0.1 s for 10 s: the hint stays; re-armed every 0.3 s at most.
  for (int i = 0; i <= 100; ++i) {
    state->showHint();
    dispatcher.advance(0.1);
    EXPECT_TRUE(state->hintVisible());
  }
  dispatcher.advance(3.0);  // 3.1 s after the last touch
  EXPECT_TRUE(state->hintVisible());
  dispatcher.advance(0.5);  // 3.6 s after it
  EXPECT_FALSE(state->hintVisible());

  // A touch within a quarter second of the last re-arm does not re-arm.
  state->showHint();
  dispatcher.advance(0.2);
  state->showHint();  // too soon to re-arm
  dispatcher.advance(3.3 + kEps);
  EXPECT_FALSE(state->hintVisible());

  state->showHint();
  state->reset();
  EXPECT_FALSE(state->hintVisible());
  EXPECT_EQ(dispatcher.pendingCount(), 0u);
  // The next nap's first touch re-arms at once.
  state->showHint();
  dispatcher.advance(3.5 + kEps);
  EXPECT_FALSE(state->hintVisible());

  // A hide timer never outlives the state.
  state->showHint();
  state.reset();
  dispatcher.advance(5);
}

TEST(NapOverlay, LaysOutTheColumnAndFadesTheHint) {
  const NapColumnLayout layout = NapColumnLayout::centredIn({800, 420});
  EXPECT_DOUBLE_EQ(layout.scene.x, 80);
  EXPECT_NEAR(layout.wordmark.width, 29 * 6.3 - 1.8, 1e-9);
  EXPECT_NEAR(layout.wordmark.height, 5 * 6.3 - 1.8, 1e-9);
  EXPECT_NEAR(layout.wordmark.y - layout.scene.maxY(), 26, 1e-9);
  EXPECT_NEAR(layout.scene.y, 420 - layout.wordmark.maxY(), 1e-9);

  VirtualDispatcher dispatcher;
  auto state = std::make_shared<OverlayState>(dispatcher);
  auto random = std::make_shared<ScriptedRandom>(std::vector<uint64_t>{0});
  NapOverlayView view(state, dispatcher, random, false, nullptr);
  view.setBounds({1280, 800});
  view.appear();

  RecordingCanvas quiet;
  view.draw(quiet);
  EXPECT_TRUE(quiet.texts.empty());
  EXPECT_DOUBLE_EQ(quiet.fills[0].color.opacity, 0.22);

  state->showHint();
  dispatcher.advance(0.25);
  EXPECT_GT(view.hintFade(), 0.2);
  EXPECT_LT(view.hintFade(), 0.8);
  dispatcher.advance(0.3);
  EXPECT_DOUBLE_EQ(view.hintFade(), 1);
  RecordingCanvas hinted;
  view.draw(hinted);
  ASSERT_EQ(hinted.texts, std::vector<std::string>{"Space or click to wake"});
  const auto& text = hinted.fills.back();
  EXPECT_DOUBLE_EQ(text.color.opacity, 0.6);
  EXPECT_NEAR(text.rect.y, 800 - 64 - 13 * 1.2, 1e-9);
  EXPECT_NEAR(text.rect.x + text.rect.width / 2, 640, 1e-9);

  NapOverlayView still(state, dispatcher, random, true, nullptr);
  still.appear();
  state->reset();
  EXPECT_DOUBLE_EQ(still.hintFade(), 0);
  state->showHint();
  EXPECT_DOUBLE_EQ(still.hintFade(), 1);  // no fade under reduce motion
  view.disappear();
  still.disappear();
}

}  // namespace
}  // namespace tovami
