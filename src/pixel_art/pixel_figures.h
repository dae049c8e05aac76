// The small animated figures: the activity indicator, the island's cat badge with its three
// moods and blink, and the curled sleeping cat outline.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "pixel_art/pixel_grid.h"
#include "platform/delayed_work.h"
#include "platform/random.h"
#include "platform/scheduler.h"

namespace tovami {

// Sleep mark "Z", 3 x 3.
const PixelRows& sleepMarkRows();
// The cat standing with its eyes open, 10 x 7.
const PixelRows& standingCatRows();

// Four 3 x 3 frames that loop while something works. The frame comes from the clock alone,
// so every indicator on screen shows the same one.
struct RunningPixelIndicator {
  static constexpr Seconds kFrameInterval = 0.4;

  Color color;
  double dot = 1;
  double gap = 0;

  // 0-based index of the frame shown at `time` (seconds since the clock's reference date).
  static int frameIndex(Seconds time);
  // How long after `time` the next frame begins.
  static Seconds nextFrameIn(Seconds time);
  static const PixelRows& frameRows(int index);
  PixelGrid grid(Seconds time) const {
    return PixelGrid{frameRows(frameIndex(time)), color, dot, gap, false};
  }
  Size size() const { return grid(0).size(); }
  void draw(Canvas& canvas, Point origin, Seconds time) const { grid(time).draw(canvas, origin); }
};

// The island's cat: running while agents work, blinking while something needs the user,
// breathing while asleep. `onChange` is called whenever the blink changes what it shows.
class CollapsedCatBadge {
 public:
  enum class Mood { working, needsYou, asleep };

  static constexpr double kCatDot = 1.3;
  static constexpr double kCatGap = 0.5;
  static constexpr double kMarkDot = 1.1;
  static constexpr double kMarkGap = 0.45;
  static constexpr double kSpacing = 3;
  static constexpr double kMarkRaise = 7;
  static constexpr Seconds kBlinkLength = 0.14;
  // The sleeping cat breathes this long after it falls asleep or appears, then lies still: an
  // island at rest wakes nobody up.
  static constexpr Seconds kBreathingFor = 8.0;

  CollapsedCatBadge(Mood mood, bool reduceMotion, TaskQueue& queue, std::shared_ptr<RandomSource> random,
                    std::function<void()> onChange);
  ~CollapsedCatBadge();
  CollapsedCatBadge(const CollapsedCatBadge&) = delete;
  CollapsedCatBadge& operator=(const CollapsedCatBadge&) = delete;

  // The badge's blink runs between appear() and disappear(), only in the needsYou mood.
  void appear();
  void disappear();
  // `time` (the figures' clock) starts the sleeping cat's breathing when it falls asleep.
  void setMood(Mood mood, Seconds time = 0);

  Mood mood() const { return mood_; }
  bool blinking() const { return blinking_; }
  bool reduceMotion() const { return reduceMotion_; }

  // How often the picture changes with the clock, or nothing when it is still.
  std::optional<Seconds> frameInterval() const;
  // How long after `time` the picture changes with the clock, or nothing while it stands still.
  std::optional<Seconds> nextFrameIn(Seconds time) const;
  const PixelRows& catRows(Seconds time) const;
  Size size() const;
  void draw(Canvas& canvas, Point origin, Seconds time) const;

  // The random wait before the next blink: 2.6 s plus a whole number of ms up to 3.6 s.
  static Seconds nextBlinkDelay(RandomSource& random);

 private:
  void restartBlink();
  void scheduleBlink();

  Mood mood_;
  bool reduceMotion_;
  bool blinking_ = false;
  bool onScreen_ = false;
  std::optional<Seconds> asleepSince_;  // since the badge last appeared
  TaskQueue& queue_;
  std::shared_ptr<RandomSource> random_;
  std::function<void()> onChange_;
  DelayedWork blinkWork_;
};

// A sleeping cat seen from the side, as one closed outline filling `bounds`.
struct CurledCatShape {
  static VectorPath path(const Rect& bounds);
};

}  // namespace tovami
