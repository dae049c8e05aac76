// The tour window as the application shell sees it: builds the window and the tour behind it,
// shows it over the primary display with the keyboard, and hands the keyboard back to the
// window that had it when the tour ends.
#pragma once

#include <QPointer>
#include <cstdint>
#include <memory>

#include "app/app_services.h"
#include "onboarding/onboarding_view.h"

namespace tovami::linux_backend {

class TourWindowWidget;

class OnboardingWindowController final : public TourWindow {
 public:
  // `dependencies.hotKey` is the shell's hot-key registrar (may be null).
  explicit OnboardingWindowController(OnboardingDependencies dependencies);
  ~OnboardingWindowController() override;

  void show() override;
  void orderOut() override;

 private:
  void giveBackFocus();

  std::shared_ptr<OnboardingView> view_;
  QPointer<TourWindowWidget> window_;
  uint32_t previousWindow_ = 0;
};

}  // namespace tovami::linux_backend
