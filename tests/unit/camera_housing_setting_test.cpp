#include <gtest/gtest.h>

#include "app/camera_housing_setting.h"

namespace tovami {
namespace {

TEST(CameraHousingSetting, ReadsWidthByHeightAndRefusesTheRest) {
  EXPECT_EQ(parseCameraHousing("200x32"), (Size{200, 32}));
  EXPECT_EQ(parseCameraHousing("185.5X37"), (Size{185.5, 37}));
  for (const char* malformed : {"", "200x", "200x32x4", " 200x32", "-200x32", "200x0", "nanx32", "20000x32"})
    EXPECT_EQ(parseCameraHousing(malformed), std::nullopt) << malformed;
}

}  // namespace
}  // namespace tovami
