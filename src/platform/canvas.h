// Immediate-mode drawing for the small figures (pixel art, the nap scene, the island): filled
// squares, rounded rectangles, circles, outlines, soft shadows, symbols and single lines of text,
// each in a colour with its own opacity. The backend draws on screen or into an image through
// the same calls.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/geometry.h"

namespace tovami {

// sRGB, 0 to 255, with an opacity from 0 to 1.
struct Color {
  uint8_t red = 0, green = 0, blue = 0;
  double opacity = 1.0;

  constexpr Color withOpacity(double value) const { return Color{red, green, blue, value}; }
  bool operator==(const Color&) const = default;
};

// A closed outline made of straight and quadratic pieces.
class VectorPath {
 public:
  enum class Verb { moveTo, lineTo, quadTo, close };
  struct Element {
    Verb verb;
    Point point;    // end point (unused for close)
    Point control;  // quadTo only
  };

  void moveTo(Point p) { elements_.push_back({Verb::moveTo, p, {}}); }
  void lineTo(Point p) { elements_.push_back({Verb::lineTo, p, {}}); }
  void quadTo(Point p, Point control) { elements_.push_back({Verb::quadTo, p, control}); }
  void close() { elements_.push_back({Verb::close, {}, {}}); }
  const std::vector<Element>& elements() const { return elements_; }

 private:
  std::vector<Element> elements_;
};

enum class FontWeight { regular, medium, semibold };

struct FontStyle {
  double pointSize = 13;
  bool monospaced = true;  // a monospaced design for the whole text
  FontWeight weight = FontWeight::regular;
  bool monospacedDigits = false;  // digits of equal width in a proportional design
  // Drawn from the outlines built into the program (built_in_font.h) where they cover the text;
  // a text they do not cover falls back to the system's face as the rest of the style says.
  bool builtIn = false;
};

class Canvas {
 public:
  virtual ~Canvas() = default;

  virtual void save() = 0;
  virtual void restore() = 0;
  // Moves the origin of everything drawn after it (until restore()).
  virtual void translate(double dx, double dy) = 0;
  // Mirrors horizontally around the vertical line x = axis.
  virtual void mirrorHorizontally(double axis) = 0;
  // Scales everything drawn after it about the current origin (until restore()).
  virtual void scale(double factor) = 0;
  // Multiplies the opacity of everything drawn after it (until restore()).
  virtual void setOpacity(double opacity) = 0;
  // Limits everything drawn after it to the inside of `path` (until restore()).
  virtual void clipToPath(const VectorPath& path) = 0;

  virtual void fillRect(const Rect& rect, Color color) = 0;
  virtual void fillRoundedRect(const Rect& rect, double radius, Color color) = 0;
  virtual void fillEllipse(const Rect& rect, Color color) = 0;
  virtual void fillPath(const VectorPath& path, Color color) = 0;
  // A line of `lineWidth` along the inside edge of a rounded rectangle (a capsule when the radius
  // is half the height).
  virtual void strokeRoundedRect(const Rect& rect, double radius, double lineWidth, Color color) = 0;
  // The soft shadow `path` casts: `color` blurred over `radius`, moved by `offset`.
  virtual void fillShadow(const VectorPath& path, Color color, double radius, Point offset) = 0;
  // A small monochrome symbol, named as in the freedesktop icon naming scheme ("emblem-system"),
  // tinted with `color` and fitted into `rect`. A simple drawn stand-in when the theme lacks it.
  virtual void drawSymbol(std::string_view name, const Rect& rect, Color color) = 0;

  // One line of UTF-8 text with its top-left corner at `topLeft`.
  virtual void drawText(std::string_view text, Point topLeft, const FontStyle& font, Color color) = 0;
  // The size of that line (advance width and line height).
  virtual Size measureText(std::string_view text, const FontStyle& font) const = 0;
  // `text` when it fits in `maxWidth`, else its longest start that fits followed by "…", cut
  // between user-perceived characters ("" when not even the ellipsis fits).
  virtual std::string elideText(std::string_view text, const FontStyle& font, double maxWidth) const = 0;
};

// Runs save() now and restore() at the end of the scope.
class CanvasStateSaver {
 public:
  explicit CanvasStateSaver(Canvas& canvas) : canvas_(canvas) { canvas_.save(); }
  ~CanvasStateSaver() { canvas_.restore(); }
  CanvasStateSaver(const CanvasStateSaver&) = delete;
  CanvasStateSaver& operator=(const CanvasStateSaver&) = delete;

 private:
  Canvas& canvas_;
};

}  // namespace tovami
