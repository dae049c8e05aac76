#include "platform/linux/composition_root.h"

#include <QApplication>
#include <QScreen>

#include "app/command_line.h"
#include "app/hot_key_manager.h"
#include "nap/nap_controller.h"
#include "platform/linux/desktop_motion_settings.h"
#include "platform/linux/nap_overlay_widget.h"
#include "platform/linux/overlay_renderer.h"
#include "platform/log.h"

namespace tovami::linux_backend {

CompositionRoot::CompositionRoot(int argc, char** argv)
    : logSink_(std::make_shared<JournalLogSink>()),
      autostart_(XdgAutostart::defaultDirectory(), QCoreApplication::applicationFilePath()),
      application_(argc, argv) {
  setLogSink(logSink_);
  store_ = std::make_unique<SettingsStore>(SettingsStore::defaultFilePath(), dispatcher_.mainQueue());
  cues_ = std::make_unique<SoundCues>(
      *store_, soundPlayer_, [] { return NapController::exists() && NapController::shared()->isNapping(); });
  installNap();
  delegate_ = std::make_shared<AppDelegate>(
      AppEnvironment{application_, dispatcher_, *store_, screens_}, makeServices(),
      std::make_unique<HotKeyManagerControl>(
          std::make_shared<HotKeyManager>(*hotKeys_, dispatcher_.mainQueue())));
  application_.setWillTerminate([this] {
    delegate_->applicationWillTerminate();
    store_->flush();
    logInfo(log_categories::kApp, "tovami ended");
  });
  application_.handleTerminationSignals();
}

CompositionRoot::~CompositionRoot() {
  setLogSink(nullptr);
}

void CompositionRoot::installNap() {
  napDesktop_ = std::make_unique<LinuxNapDesktop>(screens_);
  authenticator_ =
      std::make_unique<PamAuthenticator>([this]() -> QWidget* { return napDesktop_->keyWindow(); });
  power_ = std::make_unique<DBusPowerManagement>();
  hotKeys_ = std::make_unique<XcbGlobalHotKeys>();
  overlayState_ = std::make_shared<OverlayState>(dispatcher_);
  napDesktop_->setContentFactory([this](QWidget* parent, const ScreenInfo&) -> QWidget* {
    return new NapOverlayWidget(overlayState_, dispatcher_, systemRandomSource(),
                                DesktopMotionSettings().reduceMotion(), parent);
  });
  NapController::setFactory([this] {
    return std::make_shared<NapController>(
        NapControllerDependencies{dispatcher_, *store_, *napDesktop_, *napDesktop_, *authenticator_, *power_,
                                  nullptr, overlayState_, [this](SoundCue cue) { cues_->playCue(cue); }});
  });
}

AppServices CompositionRoot::makeServices() {
  AppServices services;
  services.nap = []() -> NapControl* { return NapController::shared().get(); };
  services.oneShotHandlers[std::string(switches::kRenderOverlay)] = [this](const std::string& path) {
    renderOverlay(path, dispatcher_);  // reports its own failure; the program ends normally either way
    application_.terminate();
  };
  return services;
}

void CompositionRoot::launch() {
  delegate_->applicationDidFinishLaunching();
  if (QCoreApplication::closingDown()) return;
  screenObserver_ = std::make_unique<ScreenChangeObserver>([this] { delegate_->screensChanged(); });
  tray_ = std::make_unique<TrayIcon>();
  tray_->setMenuBuilder([this](QMenu& menu) { buildTrayMenu(menu); });
  logInfo(log_categories::kApp, "tovami started");
}

void CompositionRoot::buildTrayMenu(QMenu& menu) {
  menu.addAction("Start Nap", [] { NapController::shared()->startNap(); });
  menu.addAction("Settings\u2026", [this] { openSettings(); });
  menu.addSeparator();
  menu.addAction("Quit Tovami", [this] { application_.terminate(); });
}

void CompositionRoot::openSettings() {
  if (!settingsWindow_) {
    auto model = std::make_unique<SettingsModel>(*store_, autostart_, makeServices(),
                                                 anyScreenHasCameraHousing(screens_), [] {
                                                   if (auto delegate = AppDelegate::shared())
                                                     delegate->showOnboarding();
                                                 });
    settingsWindow_ = new SettingsWindow(std::move(model), *store_);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      QRect frame = settingsWindow_->frameGeometry();
      frame.moveCenter(screen->availableGeometry().center());
      settingsWindow_->move(frame.topLeft());
    }
  }
  settingsWindow_->show();
  settingsWindow_->raise();
  settingsWindow_->activateWindow();
}

}  // namespace tovami::linux_backend
