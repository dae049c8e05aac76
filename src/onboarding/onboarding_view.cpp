#include "onboarding/onboarding_view.h"

#include "app/hot_key_texts.h"
#include "app/platform_wording.h"
#include "app/preference_keys.h"
#include "platform/accessibility.h"
#include "platform/authentication.h"
#include "platform/log.h"
#include "platform/motion.h"
#include "platform/preferences_store.h"

namespace tovami {

OnboardingView::OnboardingView(OnboardingDependencies dependencies, OnboardingHost host)
    : deps_(std::move(dependencies)), host_(std::move(host)), model_(std::make_shared<OnboardingModel>()) {
  model_->onChange = [this](TourAnimation animation) { changed(animation); };
}

OnboardingView::~OnboardingView() {
  model_->onChange = nullptr;
  if (deps_.hotKey && bindingObserver_) deps_.hotKey->removeBindingObserver(bindingObserver_);
}

bool OnboardingView::reduceMotion() const {
  return deps_.motion && deps_.motion->reduceMotion();
}

void OnboardingView::open() {
  if (opened_) return;
  opened_ = true;
  logInfo(log_categories::kApp, "tour: shown");
  if (deps_.hotKey) {
    bindingObserver_ = deps_.hotKey->addBindingObserver([weak = weak_from_this()] {
      if (auto self = weak.lock()) self->bindingChanged();
    });
  }
  go(OnboardingStep::welcome);
}

void OnboardingView::go(OnboardingStep step) {
  // The nap key tries itself out on the hot-key step and naps everywhere else. The model is
  // held weakly: a tour that is gone leaves a key that does nothing until the shell resets it.
  if (deps_.hotKey) {
    if (step == OnboardingStep::hotkey) {
      deps_.hotKey->setNapHandler([weak = std::weak_ptr<OnboardingModel>(model_)] {
        if (auto model = weak.lock()) {
          if (!model->hotkeyTried()) logInfo(log_categories::kApp, "tour: nap key tried");
          model->hotkeyFired();
        }
      });
    } else {
      deps_.hotKey->setNapHandler(deps_.startNap);
    }
  }
  if (step_ == OnboardingStep::hotkey && step != OnboardingStep::hotkey) fallbackWork_.cancel();
  step_ = step;
  logInfo(log_categories::kApp, std::string("tour: step ") + onboardingStepName(step));
  stepOpened();
  changed(tour_motion::kStepChange);
}

void OnboardingView::stepOpened() {
  switch (step_) {
    case OnboardingStep::hotkey:
      if (!deps_.hotKey || !deps_.hotKey->napKeyRegistered()) {
        model_->offerFallback();  // the key cannot reach us: no point in waiting
      } else {
        fallbackWork_.schedule(deps_.mainQueue, kFallbackDelay,
                               [weak = std::weak_ptr<OnboardingModel>(model_)] {
                                 if (auto model = weak.lock()) model->offerFallback();
                               });
      }
      break;
    case OnboardingStep::wake: {
      canAuth_ = false;
      if (deps_.authenticator) {
        if (auto context = deps_.authenticator->makeContext())
          canAuth_ = context->canEvaluateOwnerAuthentication();
      }
      if (!deps_.napHoldsKeyboard) {
        canAuth_ = false;  // the stored choice stays for X11 sessions; the nap ignores it here
        break;
      }
      if (!canAuth_) deps_.preferences.setString(prefs::kWakeRequirement, prefs::kWakeNone);
      break;
    }
    case OnboardingStep::island:
      notch_ = deps_.hasNotch && deps_.hasNotch();
      if (notch_ && deps_.preferences.boolValue(prefs::kIslandEnabled) && deps_.services.island) {
        peekWork_.schedule(deps_.mainQueue, kPeekDelay,
                           weakTask(shared_from_this(), [](OnboardingView& self) {
                             if (!self.finished_) self.deps_.services.island()->peek();
                           }));
      }
      break;
    case OnboardingStep::permissions:
      axTrusted_ = deps_.accessibility && deps_.accessibility->isTrusted();
      break;
    default:
      break;
  }
}

std::string OnboardingView::napKeys() const {
  return deps_.hotKey ? hotKeyKeys(deps_.hotKey->napKeyBinding(), wording::kNapHotKey) : wording::kNapHotKey;
}

std::string OnboardingView::napKeyProblem() const {
  return deps_.hotKey ? hotKeyProblem(deps_.hotKey->napKeyBinding(), wording::kNapHotKey) : std::string();
}

// The desktop answered (or changed its mind): show its keys, and stop waiting for a key that
// cannot come.
void OnboardingView::bindingChanged() {
  if (finished_) return;
  if (step_ == OnboardingStep::hotkey && !deps_.hotKey->napKeyRegistered()) {
    fallbackWork_.cancel();
    model_->offerFallback();
  }
  changed({});
}

void OnboardingView::advance() {
  if (finished_) return;
  if (step_ == OnboardingStep::permissions) return finish();
  go(static_cast<OnboardingStep>(static_cast<int>(step_) + 1));
}

void OnboardingView::finish() {
  end(true);
}

void OnboardingView::windowWillClose() {
  end(false);
}

void OnboardingView::end(bool hide) {
  if (finished_) return;
  finished_ = true;
  fallbackWork_.cancel();
  peekWork_.cancel();
  deps_.preferences.setBool(prefs::kHasCompletedOnboarding, true);
  restoreNapKey();
  logInfo(log_categories::kApp, hide ? "tour: finished" : "tour: closed");
  if (hide && host_.hideWindow) host_.hideWindow();
  if (host_.giveBackFocus) host_.giveBackFocus();
}

void OnboardingView::restoreNapKey() {
  if (deps_.hotKey) deps_.hotKey->setNapHandler(deps_.startNap);
}

bool OnboardingView::wakeRequiresAuth() const {
  return wakeRequiresAuthentication(deps_.preferences);
}

void OnboardingView::selectWake(bool auth) {
  if (auth && !canAuth_) return;  // the card is disabled
  deps_.preferences.setString(prefs::kWakeRequirement, auth ? prefs::kWakeAuth : prefs::kWakeNone);
  changed({});
}

bool OnboardingView::islandSwitch() const {
  return deps_.preferences.boolValue(notch_ ? prefs::kIslandEnabled : prefs::kIslandOnNonNotch);
}

void OnboardingView::setIslandSwitch(bool on) {
  deps_.preferences.setBool(notch_ ? prefs::kIslandEnabled : prefs::kIslandOnNonNotch, on);
  if (deps_.services.island) deps_.services.island()->refresh();
  changed({});
}

void OnboardingView::grantAccessibility() {
  if (!deps_.accessibility) return;
  deps_.accessibility->requestTrust();
  axTrusted_ = deps_.accessibility->isTrusted();
  accessibilityHelp_ = axTrusted_ ? std::string() : deps_.accessibility->howToEnable();
  changed({});
}

bool OnboardingView::notchApprovals() const {
  return deps_.preferences.boolValue(prefs::kNotchApprovals);
}

// The server listens first (only while the switch is stored on), then the hook goes in; a failed
// install leaves the switch off quietly and the server stopped.
void OnboardingView::setNotchApprovals(bool on) {
  auto& services = deps_.services;
  StartStopControl* server = services.approvalServer ? services.approvalServer() : nullptr;
  if (on) {
    deps_.preferences.setBool(prefs::kNotchApprovals, true);
    if (server) server->start();
    on = services.hookInstaller && services.hookInstaller()->install();
  } else if (services.hookInstaller) {
    services.hookInstaller()->remove();
  }
  if (!on) {
    deps_.preferences.setBool(prefs::kNotchApprovals, false);
    if (server && !deps_.preferences.boolValue(prefs::kCodexApprovals)) server->stop();
  }
  changed({});
}

bool OnboardingView::usageTracking() const {
  return boolOr(deps_.preferences, prefs::kUsageTracking, true);
}

void OnboardingView::setUsageTracking(bool on) {
  applyServiceSwitch(deps_.preferences, prefs::kUsageTracking, on,
                     deps_.services.usageTracker ? deps_.services.usageTracker() : nullptr);
  changed({});
}

void OnboardingView::changed(TourAnimation animation) {
  if (onChange) onChange(reduceMotion() ? TourAnimation{} : animation);
}

}  // namespace tovami
