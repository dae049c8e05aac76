// The curves the island moves along: a spring for opening and for the hover flag, an ease-in-out
// for closing, and "immediate" when the desktop asks for reduced motion. The view samples a curve
// with the monotonic clock to draw the outline between its old and new size.
#pragma once

#include "platform/scheduler.h"

namespace tovami {

struct AnimationCurve {
  enum class Kind { immediate, spring, easeInOut };
  Kind kind = Kind::immediate;
  Seconds response = 0;        // spring: the period of the undamped oscillation
  double dampingFraction = 1;  // spring: below 1 it overshoots a little
  Seconds duration = 0;        // ease-in-out

  static constexpr AnimationCurve immediate() { return {}; }
  static constexpr AnimationCurve spring(Seconds response, double dampingFraction) {
    return {Kind::spring, response, dampingFraction, 0};
  }
  static constexpr AnimationCurve easeInOut(Seconds duration) { return {Kind::easeInOut, 0, 1, duration}; }
  bool operator==(const AnimationCurve&) const = default;
};

inline constexpr AnimationCurve expandAnimation = AnimationCurve::spring(0.38, 0.84);
inline constexpr AnimationCurve collapseAnimation = AnimationCurve::easeInOut(0.28);
inline constexpr AnimationCurve hoverAnimation = AnimationCurve::spring(0.3, 0.85);

// How far along the curve the value is `elapsed` seconds after the change: 0 at the start, 1 at
// rest; a spring may pass 1 on the way. Curves with a zero, negative or unreadable time jump to 1.
double animationProgress(const AnimationCurve& curve, Seconds elapsed);

// When the value comes to rest: for a spring, the moment from which it stays within 0.001 of 1.
Seconds settleTime(const AnimationCurve& curve);

// One change under way: the curve it follows and when it began (monotonic clock).
struct Transition {
  AnimationCurve curve;
  Seconds startedAt = 0;

  double progress(Seconds now) const {
    return finished(now) ? 1.0 : animationProgress(curve, now - startedAt);
  }
  // An unreadable time counts as finished, so a view never animates for ever.
  bool finished(Seconds now) const { return !(now - startedAt < settleTime(curve)); }
  bool operator==(const Transition&) const = default;
};

}  // namespace tovami
