// A monospaced face for the few characters of the collapsed island's label, drawn from outlines
// built into the program. That label is the only text the collapsed island shows; drawing it this
// way keeps the font stack (fontconfig and its caches, FreeType, HarfBuzz, the font files: about
// 2.5 MiB resident) out of a program that sits in the tray all day, until a panel with real text
// opens. A canvas draws a `FontStyle::builtIn` text this way when `covers` says so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/canvas.h"

namespace tovami::built_in_font {

// True when every character of the UTF-8 `text` has an outline here (and `text` is not empty).
bool covers(std::string_view text);

// The advance of `text` at `pixelSize` (the em's height); characters not covered count nothing.
double width(std::string_view text, double pixelSize);

// The line's height above and below the baseline at `pixelSize`.
double ascent(double pixelSize);
double descent(double pixelSize);
// The height of the small letters.
double xHeight(double pixelSize);

// The outlines of `text` with the start of its baseline at `origin`; characters not covered are
// left out.
VectorPath outline(std::string_view text, double pixelSize, Point origin);

namespace outlines {
// One character: its advance, and its outline as kCommands[first, end): 'M' x y, 'L' x y,
// 'Q' cx cy x y, 'Z', in font units with y upwards.
struct Glyph {
  char32_t codePoint;
  int16_t advance;
  uint16_t first, end;
};
extern const int kUnitsPerEm, kAscent, kDescent, kXHeight;
extern const int16_t kCommands[];
extern const Glyph kGlyphs[];  // by code point
extern const size_t kGlyphCount;
}  // namespace outlines

}  // namespace tovami::built_in_font
