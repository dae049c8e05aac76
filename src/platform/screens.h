// Displays as the logic sees them: frames in points, and whether a camera housing cuts into
// the top edge.
#pragma once

#include <vector>

#include "platform/geometry.h"

namespace tovami {

struct ScreenInfo {
  Rect frame;                     // in global coordinates, points
  double scale = 1.0;             // device pixels per point
  bool hasCameraHousing = false;  // a notch at the top centre
  bool operator==(const ScreenInfo&) const = default;
};

class ScreenProvider {
 public:
  virtual ~ScreenProvider() = default;
  virtual std::vector<ScreenInfo> screens() const = 0;
};

inline bool anyScreenHasCameraHousing(const ScreenProvider& provider) {
  for (const auto& s : provider.screens())
    if (s.hasCameraHousing) return true;
  return false;
}

}  // namespace tovami
