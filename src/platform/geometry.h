// Plain geometry shared by the logic and the backends (points, top-left origin).
#pragma once

namespace tovami {

struct Point {
  double x = 0, y = 0;
  bool operator==(const Point&) const = default;
};

struct Size {
  double width = 0, height = 0;
  bool operator==(const Size&) const = default;
};

struct Rect {
  double x = 0, y = 0, width = 0, height = 0;
  bool operator==(const Rect&) const = default;
  double maxX() const { return x + width; }
  double maxY() const { return y + height; }
  bool contains(Point p) const { return p.x >= x && p.x < maxX() && p.y >= y && p.y < maxY(); }
};

}  // namespace tovami
