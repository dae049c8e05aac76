#include "pixel_art/pixel_figures.h"

#include <algorithm>
#include <cmath>

#include "pixel_art/palette.h"

namespace tovami {
namespace {

const PixelRows kActivityFrames[4] = {
    {".X.", ".XX", "XXX"},
    {"X..", "X.X", "XXX"},
    {"..X", "XXX", "XXX"},
    {".X.", "XXX", "XXX"},
};

const PixelRows kStanding = {".X......X.", ".XX....XX.", ".XXXXXXXX.", ".XX.XX.XX.",
                             ".XXXXXXXX.", "XXXXXXXXXX", ".XX.XX.XX."};
const PixelRows kEyesClosed = {".X......X.", ".XX....XX.", ".XXXXXXXX.", ".XXXXXXXX.",
                               ".XXXXXXXX.", "XXXXXXXXXX", ".XX.XX.XX."};
const PixelRows kStride = {".X......X.", ".XX....XX.", ".XXXXXXXX.", ".XX.XX.XX.",
                           ".XXXXXXXX.", "XXXXXXXXXX", "XX..XX..XX"};
const PixelRows kLyingLow = {"..........", ".X......X.", ".XX....XX.", ".XXXXXXXX.",
                             ".XXXXXXXX.", "XXXXXXXXXX", ".XX.XX.XX."};

constexpr Seconds kWorkingFrame = 0.45;
constexpr Seconds kAsleepFrame = 1.2;

// Frame number of a clock-driven animation; even and odd frames alternate.
long long frameNumber(Seconds time, Seconds interval) {
  return static_cast<long long>(std::floor(time / interval));
}

// How long after `time` the next frame of a clock-driven animation begins.
Seconds untilNextFrame(Seconds time, Seconds interval) {
  return static_cast<double>(frameNumber(time, interval) + 1) * interval - time;
}

}  // namespace

const PixelRows& standingCatRows() {
  return kStanding;
}

const PixelRows& sleepMarkRows() {
  static const PixelRows rows = {"XXX", ".X.", "XXX"};
  return rows;
}

int RunningPixelIndicator::frameIndex(Seconds time) {
  const long long frame = frameNumber(time, kFrameInterval);
  return static_cast<int>(((frame % 4) + 4) % 4);
}

Seconds RunningPixelIndicator::nextFrameIn(Seconds time) {
  return untilNextFrame(time, kFrameInterval);
}

const PixelRows& RunningPixelIndicator::frameRows(int index) {
  return kActivityFrames[((index % 4) + 4) % 4];
}

CollapsedCatBadge::CollapsedCatBadge(Mood mood, bool reduceMotion, TaskQueue& queue,
                                     std::shared_ptr<RandomSource> random, std::function<void()> onChange)
    : mood_(mood),
      reduceMotion_(reduceMotion),
      queue_(queue),
      random_(std::move(random)),
      onChange_(std::move(onChange)) {}

CollapsedCatBadge::~CollapsedCatBadge() {
  blinkWork_.cancel();
}

void CollapsedCatBadge::appear() {
  onScreen_ = true;
  asleepSince_.reset();
  restartBlink();
}

void CollapsedCatBadge::disappear() {
  onScreen_ = false;
  asleepSince_.reset();
  restartBlink();
}

void CollapsedCatBadge::setMood(Mood mood, Seconds time) {
  const bool blinkMoodChanged = (mood == Mood::needsYou) != (mood_ == Mood::needsYou);
  if (mood != Mood::asleep)
    asleepSince_.reset();
  else if (mood_ != Mood::asleep || !asleepSince_)
    asleepSince_ = time;
  mood_ = mood;
  if (blinkMoodChanged) restartBlink();
}

void CollapsedCatBadge::restartBlink() {
  blinkWork_.cancel();
  blinking_ = false;
  if (onScreen_ && mood_ == Mood::needsYou && !reduceMotion_ && random_) scheduleBlink();
}

Seconds CollapsedCatBadge::nextBlinkDelay(RandomSource& random) {
  return (2600.0 + static_cast<double>(uniformInt(random, 0, 3600))) / 1000.0;
}

void CollapsedCatBadge::scheduleBlink() {
  // The work lives in blinkWork_, which this badge cancels before it goes away.
  blinkWork_.schedule(queue_, nextBlinkDelay(*random_), [this] {
    blinking_ = true;
    if (onChange_) onChange_();
    blinkWork_.schedule(queue_, kBlinkLength, [this] {
      blinking_ = false;
      if (onChange_) onChange_();
      scheduleBlink();
    });
  });
}

std::optional<Seconds> CollapsedCatBadge::frameInterval() const {
  if (reduceMotion_) return std::nullopt;
  switch (mood_) {
    case Mood::working:
      return kWorkingFrame;
    case Mood::asleep:
      return kAsleepFrame;
    case Mood::needsYou:
      break;
  }
  return std::nullopt;
}

std::optional<Seconds> CollapsedCatBadge::nextFrameIn(Seconds time) const {
  if (reduceMotion_) return std::nullopt;
  switch (mood_) {
    case Mood::working:
      return untilNextFrame(time, kWorkingFrame);
    case Mood::asleep: {
      const Seconds next = untilNextFrame(time, kAsleepFrame);
      if (!asleepSince_) return next;
      const Seconds breathingLeft = *asleepSince_ + kBreathingFor - time;
      if (breathingLeft <= 0) return std::nullopt;
      return std::min(next, breathingLeft);
    }
    case Mood::needsYou:
      break;  // the blink asks for its own redraws
  }
  return std::nullopt;
}

const PixelRows& CollapsedCatBadge::catRows(Seconds time) const {
  switch (mood_) {
    case Mood::working:
      if (reduceMotion_) return kStanding;
      return frameNumber(time, kWorkingFrame) % 2 == 0 ? kStride : kStanding;
    case Mood::needsYou:
      return blinking_ ? kEyesClosed : kStanding;
    case Mood::asleep:
      if (reduceMotion_ || (asleepSince_ && time - *asleepSince_ >= kBreathingFor)) return kEyesClosed;
      return frameNumber(time, kAsleepFrame) % 2 == 0 ? kEyesClosed : kLyingLow;
  }
  return kStanding;
}

Size CollapsedCatBadge::size() const {
  const Size cat = PixelGrid{kStanding, palette::kTerracotta, kCatDot, kCatGap}.size();
  if (mood_ != Mood::asleep) return cat;
  const Size mark = PixelGrid{sleepMarkRows(), palette::kTerracotta, kMarkDot, kMarkGap}.size();
  return {cat.width + kSpacing + mark.width, std::max(cat.height, mark.height + kMarkRaise)};
}

void CollapsedCatBadge::draw(Canvas& canvas, Point origin, Seconds time) const {
  const Size total = size();
  const PixelGrid cat{catRows(time), palette::kTerracotta, kCatDot, kCatGap};
  const Size catSize = cat.size();
  cat.draw(canvas, {origin.x, origin.y + total.height - catSize.height});
  if (mood_ != Mood::asleep) return;
  const PixelGrid mark{sleepMarkRows(), palette::kTerracotta.withOpacity(0.8), kMarkDot, kMarkGap};
  const Size markSize = mark.size();
  mark.draw(canvas,
            {origin.x + catSize.width + kSpacing, origin.y + total.height - kMarkRaise - markSize.height});
}

VectorPath CurledCatShape::path(const Rect& b) {
  const double w = b.width, h = b.height;
  VectorPath p;
  p.moveTo({b.x, b.maxY()});
  p.quadTo({b.x + 0.18 * w, b.y + 0.35 * h}, {b.x + 0.02 * w, b.y + 0.45 * h});
  p.quadTo({b.x + 0.62 * w, b.y + 0.30 * h}, {b.x + 0.40 * w, b.y + 0.10 * h});
  p.lineTo({b.x + 0.70 * w, b.y});
  p.lineTo({b.x + 0.78 * w, b.y + 0.30 * h});
  p.quadTo({b.maxX(), b.maxY()}, {b.maxX(), b.y + 0.55 * h});
  p.close();
  return p;
}

}  // namespace tovami
