#include "platform/built_in_font.h"

#include <utf8proc.h>

#include <algorithm>

namespace tovami::built_in_font {

namespace {

using outlines::Glyph;

// The next code point of `text` from `at`, or U+FFFD for a byte that starts no valid sequence.
char32_t next(std::string_view text, size_t& at) {
  utf8proc_int32_t c = 0;
  const utf8proc_ssize_t used = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data() + at),
                                                 static_cast<utf8proc_ssize_t>(text.size() - at), &c);
  if (used <= 0 || c < 0) {
    ++at;
    return U'\uFFFD';
  }
  at += size_t(used);
  return char32_t(c);
}

const Glyph* find(char32_t c) {
  const Glyph* end = outlines::kGlyphs + outlines::kGlyphCount;
  const Glyph* glyph = std::lower_bound(outlines::kGlyphs, end, c,
                                        [](const Glyph& g, char32_t value) { return g.codePoint < value; });
  return glyph != end && glyph->codePoint == c ? glyph : nullptr;
}

}  // namespace

bool covers(std::string_view text) {
  if (text.empty()) return false;
  for (size_t at = 0; at < text.size();)
    if (!find(next(text, at))) return false;
  return true;
}

double width(std::string_view text, double pixelSize) {
  double units = 0;
  for (size_t at = 0; at < text.size();)
    if (const Glyph* glyph = find(next(text, at))) units += glyph->advance;
  return units * pixelSize / outlines::kUnitsPerEm;
}

double ascent(double pixelSize) {
  return outlines::kAscent * pixelSize / outlines::kUnitsPerEm;
}

double descent(double pixelSize) {
  return outlines::kDescent * pixelSize / outlines::kUnitsPerEm;
}

double xHeight(double pixelSize) {
  return outlines::kXHeight * pixelSize / outlines::kUnitsPerEm;
}

VectorPath outline(std::string_view text, double pixelSize, Point origin) {
  const double scale = pixelSize / outlines::kUnitsPerEm;
  VectorPath path;
  double penX = origin.x;
  for (size_t at = 0; at < text.size();) {
    const Glyph* glyph = find(next(text, at));
    if (!glyph) continue;
    const auto point = [&](const int16_t* xy) {
      return Point{penX + xy[0] * scale, origin.y - xy[1] * scale};
    };
    for (const int16_t* c = outlines::kCommands + glyph->first; c < outlines::kCommands + glyph->end;) {
      switch (*c) {
        case 'M':
          path.moveTo(point(c + 1));
          c += 3;
          break;
        case 'L':
          path.lineTo(point(c + 1));
          c += 3;
          break;
        case 'Q':
          path.quadTo(point(c + 3), point(c + 1));
          c += 5;
          break;
        default:  // 'Z'
          path.close();
          c += 1;
          break;
      }
    }
    penX += glyph->advance * scale;
  }
  return path;
}

}  // namespace tovami::built_in_font
