#include "onboarding/tour_animation.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tovami {
namespace {

// A spring released from rest at 0 towards 1. `response` is the period of the undamped
// oscillation; `damping` the fraction of critical damping (below 1: it overshoots).
double springAt(double response, double damping, double t) {
  const double omega = 2 * std::numbers::pi / std::max(response, 1e-3);
  const double zeta = std::clamp(damping, 0.0, 1.0);
  if (zeta >= 1) return 1 - std::exp(-omega * t) * (1 + omega * t);
  const double omegaD = omega * std::sqrt(1 - zeta * zeta);
  return 1 -
         std::exp(-zeta * omega * t) * (std::cos(omegaD * t) + zeta * omega / omegaD * std::sin(omegaD * t));
}

}  // namespace

double tourAnimationDuration(const TourAnimation& animation) {
  switch (animation.kind) {
    case TourAnimation::Kind::immediate:
      return 0;
    case TourAnimation::Kind::easeInOut:
      return animation.response;
    case TourAnimation::Kind::spring: {
      // Settled once the envelope is below 0.1 % of the way.
      const double omega = 2 * std::numbers::pi / std::max(animation.response, 1e-3);
      return std::log(1000.0) / (std::clamp(animation.damping, 0.05, 1.0) * omega);
    }
  }
  return 0;
}

double tourAnimationProgress(const TourAnimation& animation, double seconds) {
  if (seconds <= 0) return animation.kind == TourAnimation::Kind::immediate ? 1 : 0;
  if (seconds >= tourAnimationDuration(animation)) return 1;
  if (animation.kind == TourAnimation::Kind::easeInOut) {
    const double x = seconds / animation.response;
    return x < 0.5 ? 2 * x * x : 1 - std::pow(-2 * x + 2, 2) / 2;
  }
  return springAt(animation.response, animation.damping, seconds);
}

}  // namespace tovami
