// Dot-matrix figures: a bitmap given as rows of characters (X lit, anything else empty),
// drawn as square dots of side `dot` with `gap` between neighbours.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/canvas.h"

namespace tovami {

using PixelRows = std::vector<std::string>;

struct PixelGrid {
  PixelRows rows;
  Color color;
  double dot = 1;
  double gap = 0;
  // Give every lit dot its own fixed opacity between 0.5 and 1 (a stable, uneven texture).
  bool shaded = false;

  double pitch() const { return dot + gap; }
  int columns() const;
  Size size() const;
  // The square of the cell at row r, column j, relative to the grid's top-left corner.
  Rect cellRect(int r, int j) const;
  // Opacity factor of a lit dot: 1 unless shaded.
  double dotOpacity(int r, int j) const;
  void draw(Canvas& canvas, Point origin) const;
};

// The per-position hash behind shaded dots, in [0.5, 1].
double shadedOpacity(uint32_t row, uint32_t column);

}  // namespace tovami
