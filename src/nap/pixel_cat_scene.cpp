#include "nap/pixel_cat_scene.h"

#include <algorithm>
#include <cmath>

#include "pixel_art/palette.h"
#include "pixel_art/pixel_figures.h"

namespace tovami {
namespace {

PixelRows sitWithLegs(const char* legs) {
  PixelRows rows = {".X........X.", ".XX......XX.", ".XXXXXXXXXX.", ".XX.XXXX.XX.",
                    ".XXXXXXXXXX.", "XXXXXXXXXXXX", "XXXXXXXXXXXX", legs};
  return rows;
}

Rect unite(const Rect& a, const Rect& b) {
  if (a.width <= 0 || a.height <= 0) return b;
  if (b.width <= 0 || b.height <= 0) return a;
  const double x = std::min(a.x, b.x), y = std::min(a.y, b.y);
  return {x, y, std::max(a.maxX(), b.maxX()) - x, std::max(a.maxY(), b.maxY()) - y};
}

// A figure of `size` centred in the scene and moved by (dx, dy).
Rect centred(Size size, double dx, double dy) {
  return {(PixelCatScene::kSize.width - size.width) / 2 + dx,
          (PixelCatScene::kSize.height - size.height) / 2 + dy, size.width, size.height};
}

PixelGrid markGrid(int index) {
  return PixelGrid{sleepMarkRows(), palette::kWorkingBlue.withOpacity(0.85), index + 3.0, 1.0};
}

Size catSize() {
  return PixelGrid{PixelCatScene::sit(), {}, PixelCatScene::kCatDot, PixelCatScene::kCatGap}.size();
}

// The column of marks: three marks with 7 points between them, each indented by 10 per step.
Size markColumnSize() {
  double width = 0, height = 0;
  for (int i = 0; i < 3; ++i) {
    const Size mark = markGrid(i).size();
    width = std::max(width, i * PixelCatScene::kMarkIndent + mark.width);
    height += mark.height + (i > 0 ? PixelCatScene::kMarkSpacing : 0);
  }
  return {width, height};
}

}  // namespace

const PixelRows& PixelCatScene::sleepA() {
  static const PixelRows rows = {".X........X.", ".XX......XX.", ".XXXXXXXXXX.", ".XXXXXXXXXX.",
                                 ".XXXXXXXXXX.", "XXXXXXXXXXXX", "XXXXXXXXXXXX", ".XX..XX..XX."};
  return rows;
}

const PixelRows& PixelCatScene::sleepB() {
  static const PixelRows rows = {"............", ".X........X.", ".XX......XX.", ".XXXXXXXXXX.",
                                 ".XXXXXXXXXX.", "XXXXXXXXXXXX", "XXXXXXXXXXXX", ".XX..XX..XX."};
  return rows;
}

const PixelRows& PixelCatScene::sit() {
  static const PixelRows rows = sitWithLegs(".XX..XX..XX.");
  return rows;
}

const PixelRows& PixelCatScene::walkA() {
  static const PixelRows rows = sitWithLegs("..XX..XX..XX");
  return rows;
}

const PixelRows& PixelCatScene::walkB() {
  static const PixelRows rows = sitWithLegs("XX..XX..XX..");
  return rows;
}

PixelCatScene::PixelCatScene(Dispatcher& dispatcher, std::shared_ptr<RandomSource> random, bool reduceMotion,
                             std::function<void(Rect)> invalidate)
    : dispatcher_(dispatcher),
      random_(std::move(random)),
      reduceMotion_(reduceMotion),
      invalidate_(std::move(invalidate)),
      constellation_(reduceMotion, dispatcher, invalidate_) {
  drawnGroup_ = groupRect();
}

PixelCatScene::~PixelCatScene() {
  disappear();
}

void PixelCatScene::appear() {
  constellation_.appear();
  if (reduceMotion_) {
    // Asleep and still, under all three marks.
    zCount_ = 3;
    changed();
    return;
  }
  fallAsleep();
}

void PixelCatScene::disappear() {
  poseWork_.cancel();
  constellation_.disappear();
}

void PixelCatScene::after(Seconds delay, void (PixelCatScene::*next)()) {
  // The pending step lives in poseWork_, which is cancelled before the scene goes away.
  poseWork_.schedule(dispatcher_.mainQueue(), delay, [this, next] { (this->*next)(); });
}

void PixelCatScene::fallAsleep() {
  pose_ = Pose::sleep;
  ticksLeft_ = 14 + static_cast<int>(uniformInt(*random_, 0, 10));
  tick_ = 0;
  changed();
  after(kBreath, &PixelCatScene::breathe);
}

void PixelCatScene::breathe() {
  altFrame_ = !altFrame_;
  ++tick_;
  if (tick_ % 3 == 0) zCount_ = zCount_ % 3 + 1;
  changed();
  if (tick_ < ticksLeft_)
    after(kBreath, &PixelCatScene::breathe);
  else
    wake();
}

void PixelCatScene::wake() {
  zCount_ = 0;
  pose_ = Pose::sit;
  tick_ = 0;
  changed();
  after(kWakeLook, &PixelCatScene::lookBack);
}

void PixelCatScene::lookBack() {
  facingRight_ = !facingRight_;
  changed();
  // The first turn looks away; the second looks back and then the stroll begins.
  if (++tick_ % 2 == 1)
    after(kLookBack, &PixelCatScene::lookBack);
  else
    after(kLookBack, &PixelCatScene::stroll);
}

void PixelCatScene::stroll() {
  pose_ = Pose::walk;
  ticksLeft_ = 22 + static_cast<int>(uniformInt(*random_, 0, 14));
  tick_ = 0;
  changed();
  after(kStep, &PixelCatScene::step);
}

void PixelCatScene::step() {
  altFrame_ = !altFrame_;
  offsetX_ += facingRight_ ? kStride : -kStride;
  if (std::abs(offsetX_) > kTurnDistance) facingRight_ = !facingRight_;
  ++tick_;
  changed();
  if (tick_ < ticksLeft_)
    after(kStep, &PixelCatScene::step);
  else
    rest();
}

void PixelCatScene::rest() {
  pose_ = Pose::sit;
  changed();
  after(kRest, &PixelCatScene::fallAsleep);
}

const PixelRows& PixelCatScene::catRows() const {
  switch (pose_) {
    case Pose::sleep:
      return altFrame_ ? sleepB() : sleepA();
    case Pose::sit:
      return sit();
    case Pose::walk:
      return altFrame_ ? walkA() : walkB();
  }
  return sleepA();
}

Rect PixelCatScene::catRect() const {
  // The cat stands 30 points above the bottom of its group, which is centred in the scene;
  // the marks beside it never move it.
  const Size cat = catSize();
  Rect group = centred({cat.width, cat.height + kCatBottomInset}, offsetX_, 0);
  const double bob = (pose_ == Pose::walk && altFrame_) ? kStepBob : 0;
  return {group.x, group.y - bob, cat.width, cat.height};
}

Rect PixelCatScene::markRect(int index) const {
  // A column of marks beside the cat (on its right), its bottom level with the cat's feet.
  const Size cat = catSize();
  const Rect group = centred({cat.width, cat.height + kCatBottomInset}, offsetX_, 0);
  const Size column = markColumnSize();
  double y = group.y + cat.height - column.height;
  for (int i = 0; i < index; ++i) y += markGrid(i).size().height + kMarkSpacing;
  const Size mark = markGrid(index).size();
  return {group.maxX() + kGroupSpacing + index * kMarkIndent, y, mark.width, mark.height};
}

Rect PixelCatScene::leftDistantCatRect() {
  return centred(PixelGrid{sleepA(), {}, 2.6, 0.9}.size(), -236, -10);
}

Rect PixelCatScene::rightDistantCatRect() {
  return centred(PixelGrid{sleepB(), {}, 2.2, 0.8}.size(), 214, -4);
}

Rect PixelCatScene::groupRect() const {
  Rect area = catRect();
  // The resting place as well as the raised step, so a bob always repaints both.
  area.y -= kStepBob;
  area.height += kStepBob;
  for (int i = 0; i < 3; ++i)
    if (markVisible(i)) area = unite(area, markRect(i));
  return area;
}

void PixelCatScene::changed() {
  const Rect now = groupRect();
  const Rect dirty = unite(drawnGroup_, now);
  drawnGroup_ = now;
  if (invalidate_) invalidate_(dirty);
}

void PixelCatScene::draw(Canvas& canvas, Point origin) const {
  constellation_.draw(canvas, origin);

  const Rect left = leftDistantCatRect();
  PixelGrid{sleepA(), palette::kWhite.withOpacity(0.28), 2.6, 0.9}.draw(
      canvas, {origin.x + left.x, origin.y + left.y});
  const Rect right = rightDistantCatRect();
  PixelGrid{sleepB(), palette::kWhite.withOpacity(0.16), 2.2, 0.8}.draw(
      canvas, {origin.x + right.x, origin.y + right.y});

  const Rect cat = catRect();
  const PixelGrid catGrid{catRows(), palette::kTerracotta, kCatDot, kCatGap};
  if (!facingRight_ && pose_ == Pose::walk) {
    // Walking left: the picture is mirrored so the stride leads the way.
    CanvasStateSaver saver(canvas);
    canvas.mirrorHorizontally(origin.x + cat.x + cat.width / 2);
    catGrid.draw(canvas, {origin.x + cat.x, origin.y + cat.y});
  } else {
    catGrid.draw(canvas, {origin.x + cat.x, origin.y + cat.y});
  }

  for (int i = 0; i < 3; ++i) {
    if (!markVisible(i)) continue;
    const Rect mark = markRect(i);
    markGrid(i).draw(canvas, {origin.x + mark.x, origin.y + mark.y});
  }
}

}  // namespace tovami
