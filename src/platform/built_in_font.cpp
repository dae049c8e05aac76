#include "platform/built_in_font.h"

#include <algorithm>

namespace tovami::built_in_font {

namespace {

using outlines::Glyph;

// The next code point of `text` from `at`, or U+FFFD for a byte that starts no sequence this face
// could hold (its characters need at most three bytes).
char32_t next(std::string_view text, size_t& at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return text[at++];
  if ((lead & 0xF0) == 0xE0 && at + 2 < text.size() && (byte(at + 1) & 0xC0) == 0x80 &&
      (byte(at + 2) & 0xC0) == 0x80) {
    const char32_t c = (lead & 0x0F) << 12 | (byte(at + 1) & 0x3F) << 6 | (byte(at + 2) & 0x3F);
    at += 3;
    return c;
  }
  ++at;
  return U'\uFFFD';
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
