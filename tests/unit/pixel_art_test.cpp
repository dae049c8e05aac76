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

  RecordingCanvas empty;
  PixelGrid{{}, palette::kWhite, 2, 1}.draw(empty, {});
  EXPECT_TRUE(empty.fills.empty());
  EXPECT_EQ(PixelGrid({}, palette::kWhite, 2, 1).size(), (Size{0, 0}));
}

TEST(PixelGrid, ShadedOpacityIsAFixedHashOfThePosition) {
  EXPECT_DOUBLE_EQ(shadedOpacity(0, 0), 0.5);
  // Worked by hand from the seeds (wrapping at 2^32).
  EXPECT_NEAR(shadedOpacity(0, 1), 0.7297165200391007, 1e-12);
  EXPECT_NEAR(shadedOpacity(1, 0), 0.5180840664711632, 1e-12);
  EXPECT_NEAR(shadedOpacity(4, 28), 0.958455522971652, 1e-12);

  // The same word always looks the same, and the column step counts empty cells too.
  const PixelWordmarkView mark{"TOVAMI", palette::kWhite.withOpacity(0.8), 4.5, 1.8};
  RecordingCanvas first, second;
  mark.draw(first, {});
  mark.draw(second, {});
  ASSERT_EQ(first.fills.size(), second.fills.size());
  for (size_t i = 0; i < first.fills.size(); ++i) {
    EXPECT_EQ(first.fills[i].color, second.fills[i].color);
    EXPECT_GE(first.fills[i].color.opacity, 0.8 * 0.5 - 1e-12);
    EXPECT_LE(first.fills[i].color.opacity, 0.8 + 1e-12);
  }
  EXPECT_DOUBLE_EQ(first.fills[0].color.opacity, 0.4);  // T's first dot, row 0 column 0
}

TEST(PixelWordmark, LettersSitSideBySideWithOneGapColumn) {
  const PixelRows ta = PixelWordmarkView::rowsFor("TA");
  EXPECT_EQ(ta, (PixelRows{"XXXX..XX.", ".X...X..X", ".X...XXXX", ".X...X..X", ".X...X..X"}));
  EXPECT_EQ((PixelGrid{ta, {}, 1, 0}.columns()), 9);

  // Characters outside the font take no room; case does not matter.
  EXPECT_EQ(PixelWordmarkView::rowsFor("t 1a?"), ta);
  EXPECT_EQ(PixelWordmarkView::rowsFor("TOVAMI")[0].size(), 6u * 4 + 5);
  for (char letter : std::string("TOVAMI")) {
    auto glyph = wordmarkGlyph(letter);
    ASSERT_TRUE(glyph) << letter;
    ASSERT_EQ(glyph->size(), 5u);
    for (const auto& row : *glyph) EXPECT_EQ(row.size(), 4u) << letter;
  }
  EXPECT_EQ(PixelWordmarkView::rowsFor("42"), PixelRows(5));
}

TEST(RunningPixelIndicator, FrameComesFromTheClockAlone) {
  const Seconds base = 1'800'000'000.0;  // a multiple of 1.6 s
  EXPECT_EQ(RunningPixelIndicator::frameIndex(base + 0.05), 0);
  EXPECT_EQ(RunningPixelIndicator::frameIndex(base + 0.45), 1);
  EXPECT_EQ(RunningPixelIndicator::frameIndex(base + 0.85), 2);
  EXPECT_EQ(RunningPixelIndicator::frameIndex(base + 1.25), 3);
  EXPECT_EQ(RunningPixelIndicator::frameIndex(base + 1.65), 0);
  EXPECT_EQ(RunningPixelIndicator::frameRows(0), (PixelRows{".X.", ".XX", "XXX"}));
  EXPECT_EQ(RunningPixelIndicator::frameRows(3), (PixelRows{".X.", "XXX", "XXX"}));
}

TEST(CollapsedCatBadge, BlinkWaitsBetweenTwoPointSixAndSixPointTwoSeconds) {
  ScriptedRandom lowest({0});
  EXPECT_DOUBLE_EQ(CollapsedCatBadge::nextBlinkDelay(lowest), 2.6);
  ScriptedRandom highest({3600});
  EXPECT_DOUBLE_EQ(CollapsedCatBadge::nextBlinkDelay(highest), 6.2);
  // Draws from the biased top end of the 64-bit range are thrown away, not folded.
  ScriptedRandom rejected({UINT64_MAX, 1000});
  EXPECT_DOUBLE_EQ(CollapsedCatBadge::nextBlinkDelay(rejected), 3.6);
  EXPECT_EQ(rejected.draws, 2);
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

  // Under reduce motion nothing blinks or moves.
  CollapsedCatBadge still(CollapsedCatBadge::Mood::needsYou, true, dispatcher.mainQueue(), random, nullptr);
  still.appear();
  dispatcher.advance(60);
  EXPECT_FALSE(still.blinking());
  EXPECT_EQ(dispatcher.pendingCount(), 0u);
  for (auto mood : {CollapsedCatBadge::Mood::working, CollapsedCatBadge::Mood::asleep}) {
    still.setMood(mood);
    EXPECT_FALSE(still.frameInterval());
    const PixelRows rows = still.catRows(0);
    for (double t = 0; t < 5; t += 0.2) EXPECT_EQ(still.catRows(t), rows);
  }

  // With motion, the working cat strides and stands by turns; the sleeping one breathes.
  CollapsedCatBadge moving(CollapsedCatBadge::Mood::working, false, dispatcher.mainQueue(), random, nullptr);
  EXPECT_EQ(moving.frameInterval(), 0.45);
  EXPECT_NE(moving.catRows(0.1), moving.catRows(0.5));
  moving.setMood(CollapsedCatBadge::Mood::asleep);
  EXPECT_EQ(moving.frameInterval(), 1.2);
  EXPECT_NE(moving.catRows(0.1), moving.catRows(1.3));
}

}  // namespace
}  // namespace tovami
