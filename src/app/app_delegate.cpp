#include "app/app_delegate.h"

#include <string>

#include "app/command_line.h"
#include "app/preference_keys.h"
#include "platform/application.h"
#include "platform/log.h"
#include "platform/preferences_store.h"
#include "platform/scheduler.h"
#include "platform/screens.h"

namespace tovami {
namespace {

std::weak_ptr<AppDelegate>& sharedDelegate() {
  static std::weak_ptr<AppDelegate> delegate;
  return delegate;
}

constexpr Seconds kShowTourDelay = 1.0;
constexpr Seconds kStartServicesDelay = 0.3;

}  // namespace

AppDelegate::AppDelegate(AppEnvironment environment, AppServices services,
                         std::unique_ptr<HotKeyControl> hotKey)
    : env_(environment), services_(std::move(services)), hotKey_(std::move(hotKey)) {}

AppDelegate::~AppDelegate() = default;

std::shared_ptr<AppDelegate> AppDelegate::shared() {
  return sharedDelegate().lock();
}

void AppDelegate::applicationDidFinishLaunching() {
  sharedDelegate() = weak_from_this();
  env_.application.setAccessoryPolicy();
  // The hot keys answer from the first moment; the services wait until the tray item has
  // registered, so a login shows Tovami as soon as a small tray program would.
  installHotKeys();
  // Display changes reach screensChanged() through the backend's screen observer.
  seedPreferences(env_.preferences, anyScreenHasCameraHousing(env_.screens));
  env_.dispatcher.mainQueue().asyncAfter(kStartServicesDelay, [weak = weak_from_this()] {
    if (auto delegate = weak.lock()) delegate->startServices();
  });
  if (wantsShowTour(env_.application.arguments())) {
    env_.dispatcher.mainQueue().asyncAfter(kShowTourDelay, [] {
      if (auto delegate = AppDelegate::shared()) delegate->showOnboarding();
    });
  }
}

void AppDelegate::startServices() {
  if (terminated_) return;
  if (services_.island) services_.island()->refresh();
  if (services_.agentWatcher) services_.agentWatcher()->start();
  if (services_.usageTracker) services_.usageTracker()->start();
  // A hook goes in only once the server listens (the installer checks); its file work stays off
  // the main thread. Reinstalling also follows an entry that moved since the last launch.
  const bool claudeApprovals = env_.preferences.boolValue(prefs::kNotchApprovals);
  const bool codexApprovals = env_.preferences.boolValue(prefs::kCodexApprovals);
  const bool statusLine = env_.preferences.boolValue(prefs::kStatusLineFeed);
  if (claudeApprovals || codexApprovals || statusLine) {
    if (services_.approvalServer) services_.approvalServer()->start();
    if (claudeApprovals && services_.hookInstaller) services_.hookInstaller()->installInBackground();
    if (codexApprovals && services_.codexHookInstaller) services_.codexHookInstaller()->installInBackground();
    if (statusLine && services_.statusLineInstaller) services_.statusLineInstaller()->installInBackground();
  }
  if (env_.preferences.boolValue(prefs::kPhonePushWhileAway) && services_.phonePush)
    services_.phonePush()->installInBackground();
  if (!env_.preferences.boolValue(prefs::kHasCompletedOnboarding) && !onboarding_) showOnboarding();
}

std::function<void()> AppDelegate::napAction() const {
  return [nap = services_.nap] {
    if (nap) nap()->startNap();
  };
}

void AppDelegate::installHotKeys() {
  if (!hotKey_) return;
  hotKey_->setNapHandler(napAction());
  hotKey_->setIslandHandler([island = services_.island] {
    if (island) island()->toggle();
  });
  hotKey_->registerKeys();
}

void AppDelegate::applicationWillTerminate() {
  if (terminated_) return;
  terminated_ = true;
  if (services_.nap) services_.nap()->endNap();
  if (services_.island) services_.island()->teardown();
  if (services_.agentWatcher) services_.agentWatcher()->stop();
  if (services_.usageTracker) services_.usageTracker()->stop();
  if (services_.approvalServer) services_.approvalServer()->stop();
  if (hotKey_) hotKey_->unregisterKeys();
}

void AppDelegate::screensChanged() {
  if (services_.nap) services_.nap()->scheduleScreenRebuild();
  if (services_.island) services_.island()->screensChanged();
}

void AppDelegate::showOnboarding() {
  env_.preferences.setBool(prefs::kHasCompletedOnboarding, false);
  if (onboarding_) onboarding_->orderOut();
  if (hotKey_) hotKey_->setNapHandler(napAction());
  if (!services_.makeTourWindow) {
    onboarding_.reset();
    return;
  }
  onboarding_ = services_.makeTourWindow(hotKey_.get());
  if (onboarding_) onboarding_->show();
}

}  // namespace tovami
