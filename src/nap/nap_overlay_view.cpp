#include "nap/nap_overlay_view.h"

#include <algorithm>
#include <cmath>

#include "pixel_art/palette.h"

namespace tovami {

PixelWordmarkView NapColumnLayout::wordmarkView() {
  return PixelWordmarkView{kProductWordmark, palette::kWhite.withOpacity(kWordmarkOpacity), kWordmarkDot,
                           kWordmarkGap};
}

NapColumnLayout NapColumnLayout::centredIn(Size bounds) {
  const Size scene = PixelCatScene::kSize;
  const Size mark = wordmarkView().size();
  const double height = scene.height + kSpacing + mark.height;
  const double top = (bounds.height - height) / 2;
  NapColumnLayout layout;
  layout.scene = {(bounds.width - scene.width) / 2, top, scene.width, scene.height};
  layout.wordmark = {(bounds.width - mark.width) / 2, top + scene.height + kSpacing, mark.width, mark.height};
  return layout;
}

NapOverlayView::NapOverlayView(std::shared_ptr<OverlayState> state, Dispatcher& dispatcher,
                               std::shared_ptr<RandomSource> random, bool reduceMotion,
                               std::function<void(Rect)> invalidate)
    : state_(std::move(state)),
      dispatcher_(dispatcher),
      reduceMotion_(reduceMotion),
      invalidate_(std::move(invalidate)),
      scene_(dispatcher, std::move(random), reduceMotion, [this](Rect area) {
        const Rect origin = column().scene;
        if (invalidate_) invalidate_({origin.x + area.x, origin.y + area.y, area.width, area.height});
      }) {
  const double shown = (state_ && state_->hintVisible()) ? 1.0 : 0.0;
  fadeFrom_ = fadeTo_ = shown;
}

NapOverlayView::~NapOverlayView() {
  disappear();
}

void NapOverlayView::appear() {
  if (state_ && observerToken_ == 0)
    observerToken_ = state_->addObserver([this](bool visible) { hintChanged(visible); });
  scene_.appear();
}

void NapOverlayView::disappear() {
  if (state_ && observerToken_ != 0) state_->removeObserver(observerToken_);
  observerToken_ = 0;
  fadeTimer_.cancel();
  scene_.disappear();
}

double NapOverlayView::easeInOut(double t) {
  t = std::clamp(t, 0.0, 1.0);
  return t < 0.5 ? 4 * t * t * t : 1 - std::pow(-2 * t + 2, 3) / 2;
}

double NapOverlayView::hintFade() const {
  if (!fadeTimer_.isRunning()) return fadeTo_;
  const double progress = (dispatcher_.clock().uptime() - fadeStart_) / kHintFade;
  return fadeFrom_ + (fadeTo_ - fadeFrom_) * easeInOut(progress);
}

void NapOverlayView::hintChanged(bool visible) {
  const double target = visible ? 1.0 : 0.0;
  if (reduceMotion_) {
    // No fade: the hint simply appears and disappears.
    fadeTimer_.cancel();
    fadeFrom_ = fadeTo_ = target;
    invalidateHint();
    return;
  }
  fadeFrom_ = hintFade();
  fadeTo_ = target;
  fadeStart_ = dispatcher_.clock().uptime();
  fadeTimer_.start(dispatcher_.mainQueue(), kFadeFrame, [this] { fadeFrame(); });
  invalidateHint();
}

void NapOverlayView::fadeFrame() {
  if (dispatcher_.clock().uptime() - fadeStart_ >= kHintFade) {
    fadeTimer_.cancel();
    fadeFrom_ = fadeTo_;
  }
  invalidateHint();
}

void NapOverlayView::invalidateHint() {
  // The text's area is known once it has been drawn; before that the whole bottom band.
  if (!invalidate_) return;
  if (hintArea_.width > 0)
    invalidate_(hintArea_);
  else
    invalidate_({0, bounds_.height - kHintBottomInset - 40, bounds_.width, 40});
}

Rect NapOverlayView::hintRect(const Canvas& canvas) const {
  const Size text = canvas.measureText(kWakeHint, kHintFont);
  return {(bounds_.width - text.width) / 2, bounds_.height - kHintBottomInset - text.height, text.width,
          text.height};
}

Color NapOverlayView::dimmed(Color backdrop) {
  // Source-over of black at kDimOpacity: the colour keeps (1 - kDimOpacity) of its light.
  const double alpha = backdrop.opacity + kDimOpacity * (1 - backdrop.opacity);
  if (alpha <= 0) return palette::kBlack.withOpacity(0);
  const double keep = backdrop.opacity * (1 - kDimOpacity) / alpha;
  auto channel = [keep](uint8_t value) { return static_cast<uint8_t>(std::lround(value * keep)); };
  return Color{channel(backdrop.red), channel(backdrop.green), channel(backdrop.blue), alpha};
}

void NapOverlayView::draw(Canvas& canvas, std::optional<Color> backdrop) const {
  canvas.fillRect({0, 0, bounds_.width, bounds_.height},
                  backdrop ? dimmed(*backdrop) : palette::kBlack.withOpacity(kDimOpacity));
  const NapColumnLayout layout = column();
  scene_.draw(canvas, {layout.scene.x, layout.scene.y});
  NapColumnLayout::wordmarkView().draw(canvas, {layout.wordmark.x, layout.wordmark.y});

  if (state_ && !state_->notice().empty()) {
    const Size size = canvas.measureText(state_->notice(), kHintFont);
    canvas.drawText(state_->notice(), {(bounds_.width - size.width) / 2, kNoticeTopInset}, kHintFont,
                    palette::kWhite.withOpacity(kHintOpacity));
  }
  const Rect hint = hintRect(canvas);
  // Remembered (with a margin for antialiasing) so the fade repaints only the text.
  hintArea_ = {hint.x - 2, hint.y - 2, hint.width + 4, hint.height + 4};
  const double fade = hintFade();
  if (fade > 0)
    canvas.drawText(kWakeHint, {hint.x, hint.y}, kHintFont, palette::kWhite.withOpacity(kHintOpacity * fade));
}

void OverlayStill::draw(Canvas& canvas, Dispatcher& dispatcher) {
  canvas.fillRect({0, 0, kSize.width, kSize.height}, kBackdrop);
  // The scene in its first moment: asleep, no marks, in the middle; nothing is started.
  const PixelCatScene scene(dispatcher, nullptr, true, nullptr);
  const NapColumnLayout layout = NapColumnLayout::centredIn(kSize);
  scene.draw(canvas, {layout.scene.x, layout.scene.y});
  NapColumnLayout::wordmarkView().draw(canvas, {layout.wordmark.x, layout.wordmark.y});
}

}  // namespace tovami
