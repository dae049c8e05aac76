// The welcome tour's root view without any toolkit: which step shows, what each control does,
// and the nap key's swap while the tour runs. The window backend draws it and forwards the
// user's clicks; everything the tour changes goes through the same preferences and services as
// the settings window.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/app_services.h"
#include "onboarding/onboarding_model.h"
#include "platform/delayed_work.h"

namespace tovami {

class Accessibility;
class Authenticator;
class MotionSettings;
class PreferenceStore;

struct OnboardingDependencies {
  PreferenceStore& preferences;
  TaskQueue& mainQueue;
  HotKeyControl* hotKey = nullptr;         // null in builds without global hot keys
  std::function<void()> startNap;          // the nap key's ordinary action
  AppServices services;                    // island, approval server, hook installer, usage tracker
  Authenticator* authenticator = nullptr;  // null: no password check can work
  Accessibility* accessibility = nullptr;  // null: no accessibility support
  std::function<bool()> hasNotch;          // some display has a camera housing
  const MotionSettings* motion = nullptr;  // null: motion on
  bool napHoldsKeyboard = true;            // false: a Wayland session, where a nap asks no password
};

// What the window does when the tour ends.
struct OnboardingHost {
  std::function<void()> hideWindow;
  std::function<void()> giveBackFocus;  // to the application that was in front before
};

class OnboardingView : public std::enable_shared_from_this<OnboardingView> {
 public:
  static constexpr Seconds kFallbackDelay = 10;
  static constexpr Seconds kPeekDelay = 0.6;

  // Create with std::make_shared; call open() once the window shows.
  OnboardingView(OnboardingDependencies dependencies, OnboardingHost host);
  ~OnboardingView();

  void open();
  OnboardingStep step() const { return step_; }
  const OnboardingModel& model() const { return *model_; }
  bool reduceMotion() const;
  bool isFinished() const { return finished_; }

  // "Continue", "Show me", "I'll try later": the next step (the last one finishes).
  void advance();
  // "Skip the tour" and "Start lounging".
  void finish();
  // The window closes by other means (Escape, the window manager): the tour counts as finished.
  void windowWillClose();

  // The hot-key step: the keys the desktop bound for the nap key, and why it cannot be pressed
  // (empty while it can).
  std::string napKeys() const;
  std::string napKeyProblem() const;

  // The wake step.
  bool canAuth() const { return canAuth_; }
  // Why the password card is off: the session, not the password check.
  bool authBlockedBySession() const { return !deps_.napHoldsKeyboard; }
  bool wakeRequiresAuth() const;
  void selectWake(bool auth);

  // The island step: the notch variant or the floating one.
  bool notchVariant() const { return notch_; }
  bool islandSwitch() const;
  void setIslandSwitch(bool on);

  // The permissions step.
  bool axTrusted() const { return axTrusted_; }
  void grantAccessibility();
  // What to do when the desktop could not turn accessibility on ("" when nothing to say).
  const std::string& accessibilityHelp() const { return accessibilityHelp_; }
  bool notchApprovals() const;
  void setNotchApprovals(bool on);
  bool usageTracking() const;
  void setUsageTracking(bool on);

  // Called after each change the window must show, with how to show it.
  std::function<void(TourAnimation)> onChange;

 private:
  void go(OnboardingStep step);
  void stepOpened();
  void restoreNapKey();
  void end(bool hide);
  void changed(TourAnimation animation);
  void bindingChanged();

  OnboardingDependencies deps_;
  OnboardingHost host_;
  std::shared_ptr<OnboardingModel> model_;
  OnboardingStep step_ = OnboardingStep::welcome;
  bool opened_ = false;
  bool finished_ = false;
  bool canAuth_ = true;
  bool notch_ = false;
  bool axTrusted_ = false;
  std::string accessibilityHelp_;
  DelayedWork fallbackWork_;
  DelayedWork peekWork_;
  int bindingObserver_ = 0;
};

}  // namespace tovami
