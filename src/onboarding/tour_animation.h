// How far along an animation of the tour is, as a fraction of the way (springs may overshoot 1).
#pragma once

#include "onboarding/onboarding_model.h"

namespace tovami {

// Progress `seconds` after the change began: 0 at the start, 1 once settled.
double tourAnimationProgress(const TourAnimation& animation, double seconds);
// When the animation counts as settled.
double tourAnimationDuration(const TourAnimation& animation);

}  // namespace tovami
