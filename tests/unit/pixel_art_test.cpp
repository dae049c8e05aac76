#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "island/palette.h"
#include "island/pixel_figures.h"
#include "island/pixel_grid.h"
#include "island/pixel_wordmark.h"
#include "support/recording_canvas.h"
#include "support/virtual_dispatcher.h"

namespace tovami {
namespace {

using testing::RecordingCanvas;
using testing::ScriptedRandom;
using testing::VirtualDispatcher;

TEST(PixelGrid, LaysOutAndDrawsOneSquarePerLitCell) {
  const PixelGrid grid{{"X.X", "X"}, palette::kTerracotta, 5.0, 1.6};
  EXPECT_EQ(grid.columns(), 3);
  EXPECT_DOUBLE_EQ(grid.size().width, 3 * 6.6 - 1.6);
  EXPECT_DOUBLE_EQ(grid.size().height, 2 * 6.6 - 1.6);

  RecordingCanvas canvas;
  grid.draw(canvas, {10, 20});
  ASSERT_EQ(canvas.fills.size(), 3u);  // the short row's missing cells stay empty
  EXPECT_EQ(canvas.fills[1].rect, (Rect{10 + 2 * 6.6, 20, 5, 5}));
  EXPECT_EQ(canvas.fills[2].rect, (Rect{10, 20 + 6.6, 5, 5}));
  EXPECT_EQ(canvas.fills[0].color, palette::kTerracotta);

  EXPECT_EQ(PixelGrid({}, palette::kWhite, 2, 1).size(), (Size{0, 0}));
}

TEST(PixelGrid, ShadedOpacityIsAFixedHashOfThePosition) {
  EXPECT_DOUBLE_EQ(shadedOpacity(0, 0), 0.5);
  // Worked by hand from the seeds (wrapping at 2^32).
  EXPECT_NEAR(shadedOpacity(0, 1), 0.7297165200391007, 1e-12);
  EXPECT_NEAR(shadedOpacity(1, 0), 0.5180840664711632, 1e-12);
  EXPECT_NEAR(shadedOpacity(4, 28), 0.958455522971652, 1e-12);
  // Each lit dot of a wordmark is shaded by its position (the render test checks every one on screen).
  RecordingCanvas canvas;
  PixelWordmarkView{"TOVAMI", palette::kWhite.withOpacity(0.8), 4.5, 1.8}.draw(canvas, {});
  EXPECT_DOUBLE_EQ(canvas.fills.at(0).color.opacity, 0.4);  // T's first dot, row 0 column 0
}

TEST(PixelWordmark, LettersSitSideBySideWithOneGapColumn) {
  const PixelRows ta = PixelWordmarkView::rowsFor("TA");
  EXPECT_EQ(ta, (PixelRows{"XXXX..XX.", ".X...X..X", ".X...XXXX", ".X...X..X", ".X...X..X"}));

  // Characters outside the font take no room; case does not matter.
  EXPECT_EQ(PixelWordmarkView::rowsFor("t 1a?"), ta);
  EXPECT_EQ(PixelWordmarkView::rowsFor("TOVAMI")[0].size(), 6u * 4 + 5);
  EXPECT_EQ(PixelWordmarkView::rowsFor("42"), PixelRows(5));
}

TEST(RunningPixelIndicator, FrameComesFromTheClockAlone) {
  const Seconds base = 1'800'000'000.0;  // a multiple of 1.6 s
  for (int frame = 0; frame <= 4; ++frame)
    EXPECT_EQ(RunningPixelIndicator::frameIndex(base + 0.05 + 0.4 * frame), frame % 4);
  EXPECT_NE(RunningPixelIndicator::frameRows(0), RunningPixelIndicator::frameRows(3));
}

TEST(CollapsedCatBadge, BlinkWaitsBetweenTwoPointSixAndSixPointTwoSeconds) {
  // Draws from the biased top end of the 64-bit range are thrown away, not folded.
  for (const auto& [draws, delay] : std::vector<std::pair<std::vector<uint64_t>, Seconds>>{
           {{0}, 2.6}, {{3600}, 6.2}, {{UINT64_MAX, 1000}, 3.6}}) {
    ScriptedRandom random(draws);
    EXPECT_DOUBLE_EQ(CollapsedCatBadge::nextBlinkDelay(random), delay);
    EXPECT_EQ(random.draws, int(draws.size()));
  }
}

TEST(CollapsedCatBadge, BlinksOnlyWhileItNeedsTheUserAndStaysStillUnderReduceMotion) {
  VirtualDispatcher dispatcher;
  auto random = std::make_shared<ScriptedRandom>(std::vector<uint64_t>{0});
  int changes = 0;
  CollapsedCatBadge badge(CollapsedCatBadge::Mood::needsYou, false, dispatcher.mainQueue(), random,
                          [&] { ++changes; });
  badge.appear();
  dispatcher.advance(2.59);
  EXPECT_FALSE(badge.blinking());
  dispatcher.advance(0.02);
  EXPECT_TRUE(badge.blinking());
  EXPECT_EQ(badge.catRows(0)[3], ".XXXXXXXX.");  // eyes closed
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
