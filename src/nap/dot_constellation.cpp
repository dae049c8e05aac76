#include "nap/dot_constellation.h"

#include <algorithm>
#include <cmath>

#include "pixel_art/palette.h"

namespace tovami {

std::vector<DotConstellationView::Dot> DotConstellationView::generate() {
  ConstellationRandom random;
  std::vector<Dot> result;
  result.reserve(kDotCount);
  for (int k = 0; k < kDotCount; ++k) {
    Dot dot;
    dot.x = random.nextFraction() * 640;
    dot.y = random.nextFraction() * 180;
    dot.size = random.nextFraction() * 2.5 + 2.0;
    dot.opacity = random.nextFraction() * 0.22 + 0.05;
    dot.group = k % 3;
    result.push_back(dot);
  }
  return result;
}

const std::vector<DotConstellationView::Dot>& DotConstellationView::dots() {
  static const std::vector<Dot> shared = generate();
  return shared;
}

int DotConstellationView::groupAt(Seconds time) {
  const auto step = static_cast<long long>(std::floor(time / kTwinkleInterval));
  return static_cast<int>(((step % 3) + 3) % 3);
}

Rect DotConstellationView::dotBounds() {
  static const Rect bounds = [] {
    double minX = 1e9, minY = 1e9, maxX = -1e9, maxY = -1e9;
    for (const auto& dot : dots()) {
      minX = std::min(minX, dot.x);
      minY = std::min(minY, dot.y);
      maxX = std::max(maxX, dot.x + dot.size);
      maxY = std::max(maxY, dot.y + dot.size);
    }
    return Rect{minX, minY, maxX - minX, maxY - minY};
  }();
  return bounds;
}

DotConstellationView::DotConstellationView(bool reduceMotion, Dispatcher& dispatcher,
                                           std::function<void(Rect)> invalidate)
    : reduceMotion_(reduceMotion), dispatcher_(dispatcher), invalidate_(std::move(invalidate)) {}

void DotConstellationView::appear() {
  if (reduceMotion_) return;  // drawn once, still
  shownGroup_ = groupAt(dispatcher_.clock().now());
  twinkle_.start(dispatcher_.mainQueue(), kTwinkleInterval, [this] { tick(); });
}

void DotConstellationView::disappear() {
  twinkle_.cancel();
}

void DotConstellationView::tick() {
  const int group = groupAt(dispatcher_.clock().now());
  if (group == shownGroup_) return;
  shownGroup_ = group;
  if (invalidate_) invalidate_(dotBounds());
}

std::optional<int> DotConstellationView::currentGroup() const {
  if (reduceMotion_) return std::nullopt;
  if (shownGroup_ >= 0) return shownGroup_;
  return groupAt(dispatcher_.clock().now());
}

void DotConstellationView::draw(Canvas& canvas, Point origin) const {
  draw(canvas, origin, currentGroup());
}

void DotConstellationView::draw(Canvas& canvas, Point origin, std::optional<int> brightGroup) {
  for (const auto& dot : dots()) {
    const double boost = (brightGroup && dot.group == *brightGroup) ? kBrightening : 1.0;
    const double opacity = std::min(dot.opacity * boost, kMaxOpacity);
    canvas.fillEllipse({origin.x + dot.x, origin.y + dot.y, dot.size, dot.size},
                       palette::kWhite.withOpacity(opacity));
  }
}

}  // namespace tovami
