#include "app/camera_housing_setting.h"

#include <charconv>

namespace tovami {
namespace {

constexpr double kLargestSide = 10000;

std::optional<double> parseSide(std::string_view text) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (!(value > 0 && value <= kLargestSide)) return std::nullopt;  // also refuses NaN
  return value;
}

}  // namespace

std::optional<Size> parseCameraHousing(std::string_view text) {
  const auto separator = text.find_first_of("xX");
  if (separator == std::string_view::npos) return std::nullopt;
  const auto width = parseSide(text.substr(0, separator));
  const auto height = parseSide(text.substr(separator + 1));
  if (!width || !height) return std::nullopt;
  return Size{*width, *height};
}

}  // namespace tovami
