// The application's spine: the launch sequence, the welcome tour entry and the termination
// sequence.
#pragma once

#include <memory>

#include "app/app_services.h"
#include "platform/delayed_work.h"

namespace tovami {

class Application;
class Dispatcher;
class PreferenceStore;
class ScreenProvider;

struct AppEnvironment {
  Application& application;
  Dispatcher& dispatcher;
  PreferenceStore& preferences;
  const ScreenProvider& screens;
};

class AppDelegate : public std::enable_shared_from_this<AppDelegate> {
 public:
  // `hotKey` may be null in builds without global hot keys.
  AppDelegate(AppEnvironment environment, AppServices services, std::unique_ptr<HotKeyControl> hotKey);
  ~AppDelegate();

  // The running delegate, if any (held weakly).
  static std::shared_ptr<AppDelegate> shared();

  void applicationDidFinishLaunching();
  void applicationWillTerminate();
  // The display configuration changed.
  void screensChanged();
  void showOnboarding();

  HotKeyControl* hotKey() const { return hotKey_.get(); }
  bool isShowingTour() const { return onboarding_ != nullptr; }

 private:
  void installHotKeys();
  void startServices();
  std::function<void()> napAction() const;

  AppEnvironment env_;
  AppServices services_;
  std::unique_ptr<HotKeyControl> hotKey_;
  std::unique_ptr<TourWindow> onboarding_;
  bool terminated_ = false;
};

}  // namespace tovami
