#include "platform/built_in_font.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tovami {
namespace {

using built_in_font::outlines::kCommands;
using built_in_font::outlines::kGlyphCount;
using built_in_font::outlines::kGlyphs;

TEST(BuiltInFont, CoversTheLabelsCharactersAndNothingElse) {
  for (const char* text : {"idle", "Working\u2026 0123456789", "needs you 12"})
    EXPECT_TRUE(built_in_font::covers(text)) << text;
  // Empty, a letter it lacks, a character it lacks, and a cut or stray UTF-8 sequence.
  for (const char* text : {"", "Idle", "caf\u00e9", "Working\xE2\x80", "\xA6", "\xF0\x9F\x98\x80"})
    EXPECT_FALSE(built_in_font::covers(text)) << text;

  // Monospaced, at any size; what it lacks takes no room.
  const double cell = built_in_font::width("0", 10);
  EXPECT_NEAR(cell, 6.02, 0.01);
  EXPECT_DOUBLE_EQ(built_in_font::width("Working\u2026 3", 10), 10 * cell);
  EXPECT_DOUBLE_EQ(built_in_font::width("idle", 20), 8 * cell);
  EXPECT_DOUBLE_EQ(built_in_font::width("i\u00e9d", 10), 2 * cell);
}

// Every outline is a run of closed contours inside its own cell and the line's height, in order of
// code point (the lookup is a binary search).
TEST(BuiltInFont, OutlinesAreClosedContoursInsideTheirCells) {
  ASSERT_GT(kGlyphCount, 0u);
  for (size_t g = 0; g < kGlyphCount; ++g) {
    const auto& glyph = kGlyphs[g];
    SCOPED_TRACE(static_cast<uint32_t>(glyph.codePoint));
    if (g > 0) {
      EXPECT_LT(kGlyphs[g - 1].codePoint, glyph.codePoint);
    }
    bool open = false;
    for (auto c = glyph.first; c < glyph.end;) {
      const int arguments = kCommands[c] == 'Q' ? 4 : kCommands[c] == 'Z' ? 0 : 2;
      ASSERT_TRUE(kCommands[c] == 'M' || kCommands[c] == 'L' || kCommands[c] == 'Q' || kCommands[c] == 'Z');
      EXPECT_EQ(kCommands[c] == 'M', !open);
      open = kCommands[c] != 'Z';
      for (int a = 0; a < arguments; a += 2) {
        EXPECT_GE(kCommands[c + 1 + a], -50);
        EXPECT_LE(kCommands[c + 1 + a], glyph.advance + 50);
        EXPECT_GE(kCommands[c + 2 + a], -built_in_font::outlines::kDescent);
        EXPECT_LE(kCommands[c + 2 + a], built_in_font::outlines::kAscent);
      }
      c += 1 + arguments;
      ASSERT_LE(c, glyph.end);
    }
    EXPECT_FALSE(open);
  }

  // Laid out from the baseline's start, one cell after another, y downwards.
  const auto path = built_in_font::outline("1 1", 10, {100, 50});
  double minX = 1e9, maxX = -1e9, minY = 1e9, maxY = -1e9;
  for (const auto& element : path.elements()) {
    if (element.verb == VectorPath::Verb::close) continue;
    minX = std::min(minX, element.point.x), maxX = std::max(maxX, element.point.x);
    minY = std::min(minY, element.point.y), maxY = std::max(maxY, element.point.y);
  }
  EXPECT_GT(minX, 100);
  EXPECT_GT(maxX, 100 + 2 * built_in_font::width(" ", 10));
  EXPECT_LT(maxX, 100 + 3 * built_in_font::width(" ", 10));
  EXPECT_DOUBLE_EQ(maxY, 50);                        // "1" stands on the baseline
  EXPECT_NEAR(minY, 50 - 1493 * 10.0 / 2048, 0.01);  // its top
}

}  // namespace
}  // namespace tovami
