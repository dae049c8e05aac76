// The dot-matrix wordmark: a word spelled in a 4 x 5 letter font, drawn shaded.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "pixel_art/pixel_grid.h"

namespace tovami {

inline constexpr const char* kProductWordmark = "TOVAMI";

// The 5 rows of 4 cells of an upper-case letter, or nothing for a letter outside the font.
std::optional<PixelRows> wordmarkGlyph(char letter);

struct PixelWordmarkView {
  std::string word;
  Color color;
  double dot = 1;
  double gap = 0;

  // Letters side by side with one empty column between them; unknown characters take no room.
  static PixelRows rowsFor(std::string_view word);
  PixelGrid grid() const { return PixelGrid{rowsFor(word), color, dot, gap, true}; }
  Size size() const { return grid().size(); }
  void draw(Canvas& canvas, Point origin) const { grid().draw(canvas, origin); }
};

}  // namespace tovami
