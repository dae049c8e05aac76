// Immediate-mode drawing for the small figures (pixel art, the nap scene): filled squares,
// rounded rectangles, circles, outlines and one line of monospaced text, each in a colour with
// its own opacity. The backend draws on screen or into an image through the same calls.
#pragma once

#include <cstdint>
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

struct FontStyle {
  double pointSize = 13;
  bool monospaced = true;
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

  virtual void fillRect(const Rect& rect, Color color) = 0;
  virtual void fillRoundedRect(const Rect& rect, double radius, Color color) = 0;
  virtual void fillEllipse(const Rect& rect, Color color) = 0;
  virtual void fillPath(const VectorPath& path, Color color) = 0;

  // One line of UTF-8 text with its top-left corner at `topLeft`.
  virtual void drawText(std::string_view text, Point topLeft, const FontStyle& font, Color color) = 0;
  // The size of that line (advance width and line height).
  virtual Size measureText(std::string_view text, const FontStyle& font) const = 0;
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
