// The composition root of the Linux program: builds every production service with its real
// dependencies, installs the shared-instance factories and wires the tray and windows.
#pragma once

#include <QPointer>
#include <memory>

#include "app/app_delegate.h"
#include "app/sound_cues.h"
#include "nap/overlay_state.h"
#include "platform/linux/blackout_windows.h"
#include "platform/linux/canberra_sound_player.h"
#include "platform/linux/dbus_power.h"
#include "platform/linux/journal_log_sink.h"
#include "platform/linux/pam_authenticator.h"
#include "platform/linux/qt_application.h"
#include "platform/linux/qt_dispatcher.h"
#include "platform/linux/qt_screens.h"
#include "platform/linux/settings_store.h"
#include "platform/linux/settings_window.h"
#include "platform/linux/tray_icon.h"
#include "platform/linux/xcb_hot_keys.h"
#include "platform/linux/xdg_autostart.h"

namespace tovami::linux_backend {

class CompositionRoot {
 public:
  CompositionRoot(int argc, char** argv);
  ~CompositionRoot();

  // Runs the launch sequence; call once the event loop is running.
  void launch();
  void openSettings();

  SoundCues& soundCues() { return *cues_; }
  PreferenceStore& preferences() { return *store_; }
  Dispatcher& dispatcher() { return dispatcher_; }

 private:
  AppServices makeServices();
  void buildTrayMenu(QMenu& menu);
  void installNap();
  // The termination sequence and the final flush of the preferences.
  void endSession();

  QtDispatcher dispatcher_;
  std::shared_ptr<JournalLogSink> logSink_;
  std::unique_ptr<SettingsStore> store_;
  CanberraSoundPlayer soundPlayer_;
  std::unique_ptr<SoundCues> cues_;
  XdgAutostart autostart_;
  QtScreenProvider screens_;
  QtApplication application_;
  // The nap's platform services (they outlive the delegate's use of them).
  std::unique_ptr<LinuxNapDesktop> napDesktop_;
  std::unique_ptr<PamAuthenticator> authenticator_;
  std::unique_ptr<DBusPowerManagement> power_;
  std::unique_ptr<XcbGlobalHotKeys> hotKeys_;
  std::shared_ptr<OverlayState> overlayState_;
  std::shared_ptr<AppDelegate> delegate_;
  std::unique_ptr<ScreenChangeObserver> screenObserver_;
  std::unique_ptr<TrayIcon> tray_;
  QPointer<SettingsWindow> settingsWindow_;
};

}  // namespace tovami::linux_backend
