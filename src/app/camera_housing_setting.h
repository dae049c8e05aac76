// The development setting that declares a camera housing on a display that has none, so the
// island's housing mode can be run and looked at on any machine: TOVAMI_CAMERA_HOUSING="200x32"
// (width and height in points, on the primary display).
#pragma once

#include <optional>
#include <string_view>

#include "platform/geometry.h"

namespace tovami {

inline constexpr const char* kCameraHousingVariable = "TOVAMI_CAMERA_HOUSING";

// "WIDTHxHEIGHT" in points; absent for anything else (a housing must be positive and no larger
// than a display could be).
std::optional<Size> parseCameraHousing(std::string_view text);

}  // namespace tovami
