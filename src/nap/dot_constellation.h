// A faint field of dots behind the sleeping cat; one group of dots brightens in turn.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "platform/canvas.h"
#include "platform/delayed_work.h"
#include "platform/scheduler.h"

namespace tovami {

// The generator behind the dots: a 64-bit linear congruential sequence whose draws are
// fractions in [0, 0.5).
class ConstellationRandom {
 public:
  static constexpr uint64_t kMultiplier = 6364136223846793005ull;
  static constexpr uint64_t kIncrement = 1442695040888963407ull;
  static constexpr uint64_t kSeed = 2654435769ull;

  explicit ConstellationRandom(uint64_t seed = kSeed) : state_(seed) {}
  double nextFraction() {
    state_ = state_ * kMultiplier + kIncrement;
    return static_cast<double>(state_ >> 33) / 4294967295.0;
  }

 private:
  uint64_t state_;
};

class DotConstellationView {
 public:
  struct Dot {
    double x = 0, y = 0, size = 0, opacity = 0;
    int group = 0;
  };

  static constexpr int kDotCount = 44;
  static constexpr Seconds kTwinkleInterval = 1.4;
  static constexpr double kMaxOpacity = 0.35;
  static constexpr double kBrightening = 1.6;

  // Computed once per process and shared by every view.
  static const std::vector<Dot>& dots();
  static std::vector<Dot> generate();
  // The brightened group at `time` (seconds since the clock's reference date).
  static int groupAt(Seconds time);
  // The area every dot lies in, relative to the view's origin.
  static Rect dotBounds();

  // `invalidate` is called with the area to redraw, relative to the view's origin.
  DotConstellationView(bool reduceMotion, Dispatcher& dispatcher, std::function<void(Rect)> invalidate);

  void appear();
  void disappear();
  bool reduceMotion() const { return reduceMotion_; }
  // The group brightened now, or nothing under reduce motion.
  std::optional<int> currentGroup() const;
  void draw(Canvas& canvas, Point origin) const;
  static void draw(Canvas& canvas, Point origin, std::optional<int> brightGroup);

 private:
  void tick();

  bool reduceMotion_;
  Dispatcher& dispatcher_;
  std::function<void(Rect)> invalidate_;
  RepeatingTimer twinkle_;
  int shownGroup_ = -1;
};

}  // namespace tovami
