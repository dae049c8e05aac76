#include "pixel_art/pixel_grid.h"

#include <algorithm>

namespace tovami {

double shadedOpacity(uint32_t row, uint32_t column) {
  // Unsigned 32-bit arithmetic wraps modulo 2^32, as the texture needs.
  const uint32_t rowSeed = row * 668265263u;
  const uint32_t seed = rowSeed + column * 374761393u;
  uint32_t h = seed ^ (seed >> 13);
  h = h * 1274126177u;
  h = h ^ (h >> 16);
  return static_cast<double>(h & 1023u) / 1023.0 * 0.5 + 0.5;
}

int PixelGrid::columns() const {
  size_t widest = 0;
  for (const auto& row : rows) widest = std::max(widest, row.size());
  return static_cast<int>(widest);
}

Size PixelGrid::size() const {
  const int cols = columns();
  const int count = static_cast<int>(rows.size());
  if (cols == 0 || count == 0) return {};
  return {cols * pitch() - gap, count * pitch() - gap};
}

Rect PixelGrid::cellRect(int r, int j) const {
  return {j * pitch(), r * pitch(), dot, dot};
}

double PixelGrid::dotOpacity(int r, int j) const {
  return shaded ? shadedOpacity(static_cast<uint32_t>(r), static_cast<uint32_t>(j)) : 1.0;
}

void PixelGrid::draw(Canvas& canvas, Point origin) const {
  for (size_t r = 0; r < rows.size(); ++r) {
    const auto& row = rows[r];
    for (size_t j = 0; j < row.size(); ++j) {
      if (row[j] != 'X') continue;
      Rect cell = cellRect(static_cast<int>(r), static_cast<int>(j));
      cell.x += origin.x;
      cell.y += origin.y;
      canvas.fillRect(
          cell, color.withOpacity(color.opacity * dotOpacity(static_cast<int>(r), static_cast<int>(j))));
    }
  }
}

}  // namespace tovami
