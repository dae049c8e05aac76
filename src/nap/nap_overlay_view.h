// What every blackout window shows during a nap: a dim layer, the cat scene over the
// wordmark, and the wake hint after the user touches the keyboard or mouse.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "nap/overlay_state.h"
#include "nap/pixel_cat_scene.h"
#include "pixel_art/pixel_wordmark.h"
#include "platform/canvas.h"
#include "platform/delayed_work.h"
#include "platform/random.h"
#include "platform/scheduler.h"

namespace tovami {

inline constexpr std::string_view kWakeHint = "Space or click to wake";

// The cat scene with the wordmark under it, as one centred column.
struct NapColumnLayout {
  static constexpr double kSpacing = 26;
  static constexpr double kWordmarkDot = 4.5;
  static constexpr double kWordmarkGap = 1.8;
  static constexpr double kWordmarkOpacity = 0.85;

  Rect scene;
  Rect wordmark;

  static PixelWordmarkView wordmarkView();
  // The column centred in a box of `bounds`.
  static NapColumnLayout centredIn(Size bounds);
};

class NapOverlayView {
 public:
  static constexpr double kDimOpacity = 0.22;
  static constexpr double kHintBottomInset = 64;
  static constexpr double kHintOpacity = 0.6;
  static constexpr double kNoticeTopInset = 48;
  static constexpr Seconds kHintFade = 0.5;
  static constexpr Seconds kFadeFrame = 1.0 / 60;
  static inline const FontStyle kHintFont{13, true};

  // `invalidate` asks the host to redraw an area (in the view's coordinates).
  NapOverlayView(std::shared_ptr<OverlayState> state, Dispatcher& dispatcher,
                 std::shared_ptr<RandomSource> random, bool reduceMotion,
                 std::function<void(Rect)> invalidate);
  ~NapOverlayView();
  NapOverlayView(const NapOverlayView&) = delete;
  NapOverlayView& operator=(const NapOverlayView&) = delete;

  void appear();
  void disappear();
  void setBounds(Size bounds) { bounds_ = bounds; }
  Size bounds() const { return bounds_; }

  // The hint's opacity factor now, from 0 to 1 (times 60 % white when drawn).
  double hintFade() const;
  Rect hintRect(const Canvas& canvas) const;
  NapColumnLayout column() const { return NapColumnLayout::centredIn(bounds_); }
  const PixelCatScene& scene() const { return scene_; }

  // Draws the scene over the window's own backdrop: blended over what is there, or, given the
  // backdrop's colour, painted with it as one layer (the dim layer folded into the colour).
  void draw(Canvas& canvas, std::optional<Color> backdrop = std::nullopt) const;
  // `backdrop` with the dim layer over it, as one colour.
  static Color dimmed(Color backdrop);

  // Ease-in-out over [0, 1].
  static double easeInOut(double t);

 private:
  void hintChanged(bool visible);
  void fadeFrame();
  void invalidateHint();

  std::shared_ptr<OverlayState> state_;
  Dispatcher& dispatcher_;
  const bool reduceMotion_;
  std::function<void(Rect)> invalidate_;
  PixelCatScene scene_;
  Size bounds_;
  int observerToken_ = 0;

  // The fade runs from fadeFrom_ to fadeTo_, starting at fadeStart_ (monotonic seconds).
  double fadeFrom_ = 0;
  double fadeTo_ = 0;
  Seconds fadeStart_ = 0;
  RepeatingTimer fadeTimer_;
  mutable Rect hintArea_;
};

// The overlay still: the column on a dark backdrop, the cat asleep, no hint.
struct OverlayStill {
  static constexpr Size kSize{800, 420};
  static constexpr double kScale = 2;
  static constexpr Color kBackdrop{23, 20, 19};  // sRGB (0.09, 0.08, 0.075)

  static void draw(Canvas& canvas, Dispatcher& dispatcher);
};

}  // namespace tovami
