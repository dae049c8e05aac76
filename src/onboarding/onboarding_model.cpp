#include "onboarding/onboarding_model.h"

#include "platform/log.h"

namespace tovami {

const char* onboardingStepName(OnboardingStep step) {
  switch (step) {
    case OnboardingStep::welcome:
      return "welcome";
    case OnboardingStep::hotkey:
      return "hotkey";
    case OnboardingStep::wake:
      return "wake";
    case OnboardingStep::island:
      return "island";
    case OnboardingStep::agents:
      return "agents";
    case OnboardingStep::permissions:
      return "permissions";
  }
  return "?";
}

void OnboardingModel::hotkeyFired() {
  if (hotkeyTried_) return;
  // The desktop has no level-change haptic to play here; the success line is the feedback.
  hotkeyTried_ = true;
  changed(tour_motion::kHotkeyTried);
}

void OnboardingModel::offerFallback() {
  if (hotkeyTried_ || fallbackAvailable_) return;
  fallbackAvailable_ = true;
  logInfo(log_categories::kApp, "tour: a later try offered");
  changed(tour_motion::kFallbackShown);
}

void OnboardingModel::changed(TourAnimation animation) {
  if (onChange) onChange(animation);
}

}  // namespace tovami
