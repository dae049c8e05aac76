// Displays as the logic sees them: frames in points, the part of each left free by the desktop's
// panels, and the size of a camera housing cutting into the top edge where there is one.
#pragma once

#include <optional>
#include <vector>

#include "platform/geometry.h"

namespace tovami {

struct ScreenInfo {
  Rect frame;                         // in global coordinates, points, top-left origin
  double scale = 1.0;                 // device pixels per point
  std::optional<Size> cameraHousing;  // a notch at the top centre, its width and height
  Rect visibleFrame;                  // the frame less the desktop's panels (empty: the whole frame)
  bool primary = false;               // the display the desktop calls its main one

  bool hasCameraHousing() const { return cameraHousing.has_value(); }
  // The frame less the panels; the whole frame when the desktop reports nothing.
  Rect usableFrame() const { return visibleFrame.width > 0 && visibleFrame.height > 0 ? visibleFrame : frame; }
  bool operator==(const ScreenInfo&) const = default;
};

class ScreenProvider {
 public:
  virtual ~ScreenProvider() = default;
  // In the desktop's order.
  virtual std::vector<ScreenInfo> screens() const = 0;
};

inline bool anyScreenHasCameraHousing(const ScreenProvider& provider) {
  for (const auto& s : provider.screens())
    if (s.hasCameraHousing()) return true;
  return false;
}

}  // namespace tovami
