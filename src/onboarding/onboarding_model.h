// The welcome tour's steps and the little state that outlives a step: whether the nap key was
// tried, and whether the way out of the hot-key step is offered.
#pragma once

#include <array>
#include <functional>
#include <memory>

#include "island/island_animation.h"

namespace tovami {

enum class OnboardingStep { welcome, hotkey, wake, island, agents, permissions };

// Every step, in the order the tour shows them.
inline constexpr std::array<OnboardingStep, 6> kOnboardingSteps = {
    OnboardingStep::welcome, OnboardingStep::hotkey, OnboardingStep::wake,
    OnboardingStep::island,  OnboardingStep::agents, OnboardingStep::permissions};

const char* onboardingStepName(OnboardingStep step);

// How a change should reach the screen: the island's curves (springs as response and damping
// fraction); with reduce motion every change is immediate.
using TourAnimation = AnimationCurve;

namespace tour_motion {
inline constexpr TourAnimation kStepChange = TourAnimation::spring(0.55, 0.86);
inline constexpr TourAnimation kProgress = TourAnimation::spring(0.4, 0.8);
inline constexpr TourAnimation kHotkeyTried = TourAnimation::spring(0.32, 0.6);
inline constexpr TourAnimation kFallbackShown = TourAnimation::easeInOut(0.3);
}  // namespace tour_motion

class OnboardingModel {
 public:
  bool hotkeyTried() const { return hotkeyTried_; }
  bool fallbackAvailable() const { return fallbackAvailable_; }

  // The nap key was pressed on the hot-key step; a second press changes nothing.
  void hotkeyFired();
  // The hot-key step waited long enough (or the key cannot work): offer the way out, unless
  // the key was already tried.
  void offerFallback();

  // Called after each change, with how to show it (the owner drops the motion when the desktop
  // asks for less).
  std::function<void(TourAnimation)> onChange;

 private:
  void changed(TourAnimation animation);

  bool hotkeyTried_ = false;
  bool fallbackAvailable_ = false;
};

}  // namespace tovami
