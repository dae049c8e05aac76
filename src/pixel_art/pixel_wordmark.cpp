#include "pixel_art/pixel_wordmark.h"

#include <array>
#include <utility>

namespace tovami {
namespace {

struct Glyph {
  char letter;
  std::array<const char*, 5> rows;
};

// One-column strokes in a 4 x 5 box.
constexpr Glyph kGlyphs[] = {
    {'T', {"XXXX", ".X..", ".X..", ".X..", ".X.."}}, {'A', {".XX.", "X..X", "XXXX", "X..X", "X..X"}},
    {'O', {".XX.", "X..X", "X..X", "X..X", ".XX."}}, {'V', {"X..X", "X..X", "X..X", ".XX.", ".XX."}},
    {'M', {"X..X", "XXXX", "X..X", "X..X", "X..X"}}, {'I', {"XXX.", ".X..", ".X..", ".X..", "XXX."}},
};

char upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

std::optional<PixelRows> wordmarkGlyph(char letter) {
  letter = upper(letter);
  for (const auto& glyph : kGlyphs)
    if (glyph.letter == letter) return PixelRows(glyph.rows.begin(), glyph.rows.end());
  return std::nullopt;
}

PixelRows PixelWordmarkView::rowsFor(std::string_view word) {
  PixelRows rows(5);
  for (char c : word) {
    auto glyph = wordmarkGlyph(c);
    if (!glyph) continue;
    for (size_t r = 0; r < rows.size(); ++r) {
      if (!rows[r].empty()) rows[r] += '.';
      rows[r] += (*glyph)[r];
    }
  }
  return rows;
}

}  // namespace tovami
