#include "island/island_animation.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tovami {
namespace {

constexpr double kRestTolerance = 0.001;

bool usableTime(Seconds t) {
  return std::isfinite(t) && t > 0;
}

// A mass of 1 on a spring of stiffness (2π/response)², damped by 4π·ζ/response, released at
// rest one unit away from its target. Returns the signed distance from the target at `t`.
class Spring {
 public:
  explicit Spring(const AnimationCurve& curve)
      : omega_(2 * std::numbers::pi / curve.response),
        // A spring without damping never rests, and an absurd one only crawls: both are bounded.
        zeta_(std::clamp(std::isfinite(curve.dampingFraction) ? curve.dampingFraction : 1.0, 0.01, 100.0)) {}

  double offset(Seconds t) const {
    if (zeta_ < 1) {
      const double wd = omega_ * std::sqrt(1 - zeta_ * zeta_);
      return -std::exp(-zeta_ * omega_ * t) * (std::cos(wd * t) + zeta_ * omega_ / wd * std::sin(wd * t));
    }
    if (zeta_ == 1) return -(1 + omega_ * t) * std::exp(-omega_ * t);
    const double root = std::sqrt(zeta_ * zeta_ - 1);
    const double slow = -omega_ * (zeta_ - root), fast = -omega_ * (zeta_ + root);
    return (fast * std::exp(slow * t) - slow * std::exp(fast * t)) / (slow - fast);
  }

  Seconds restTime() const {
    auto outside = [this](Seconds t) { return std::abs(offset(t)) > kRestTolerance; };
    Seconds lo = 0, hi;
    if (zeta_ < 1) {
      // Past the decay envelope's crossing the value never leaves the band again; walk back from
      // there in small steps to the last moment it was outside.
      const double wd = omega_ * std::sqrt(1 - zeta_ * zeta_);
      hi = std::log(1 / (kRestTolerance * std::sqrt(1 - zeta_ * zeta_))) / (zeta_ * omega_);
      const Seconds step = 2 * std::numbers::pi / wd / 64;
      lo = hi;
      while (lo > 0 && !outside(lo)) lo = std::max(0.0, lo - step);
      hi = std::min(hi, lo + step);
    } else {
      // Without overshoot the distance only shrinks.
      hi = 1 / omega_;
      while (outside(hi)) hi *= 2;
    }
    for (int i = 0; i < 50; ++i) {
      const Seconds mid = (lo + hi) / 2;
      (outside(mid) ? lo : hi) = mid;
    }
    return hi;
  }

 private:
  double omega_;
  double zeta_;
};

// The cubic Bézier (0.42, 0, 0.58, 1): solved for the parameter at which x equals `x`.
double easeInOutAt(double x) {
  auto bezier = [](double s, double p1, double p2) {
    const double r = 1 - s;
    return 3 * r * r * s * p1 + 3 * r * s * s * p2 + s * s * s;
  };
  double lo = 0, hi = 1;
  for (int i = 0; i < 50; ++i) {
    const double mid = (lo + hi) / 2;
    (bezier(mid, 0.42, 0.58) < x ? lo : hi) = mid;
  }
  return bezier((lo + hi) / 2, 0, 1);
}

}  // namespace

double animationProgress(const AnimationCurve& curve, Seconds elapsed) {
  if (std::isnan(elapsed)) return 1;
  if (elapsed <= 0) return curve.kind == AnimationCurve::Kind::immediate ? 1 : 0;
  switch (curve.kind) {
    case AnimationCurve::Kind::spring:
      if (!usableTime(curve.response)) return 1;
      return 1 + Spring(curve).offset(elapsed);
    case AnimationCurve::Kind::easeInOut:
      if (!usableTime(curve.duration) || elapsed >= curve.duration) return 1;
      return easeInOutAt(elapsed / curve.duration);
    case AnimationCurve::Kind::immediate:
      break;
  }
  return 1;
}

Seconds settleTime(const AnimationCurve& curve) {
  switch (curve.kind) {
    case AnimationCurve::Kind::spring:
      return usableTime(curve.response) ? Spring(curve).restTime() : 0;
    case AnimationCurve::Kind::easeInOut:
      return usableTime(curve.duration) ? curve.duration : 0;
    case AnimationCurve::Kind::immediate:
      break;
  }
  return 0;
}

}  // namespace tovami
