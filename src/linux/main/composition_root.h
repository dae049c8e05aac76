// The composition root of the Linux program: builds every production service with its real
// dependencies, installs the shared-instance factories and wires the tray and windows.
#pragma once

#include <QPointer>
#include <memory>

#include "app/app_delegate.h"
#include "app/sound_cues.h"
#include "linux/app/canberra_sound_player.h"
#include "linux/app/journal_log_sink.h"
#include "linux/app/portal_hot_keys.h"
#include "linux/app/settings_store.h"
#include "linux/app/settings_window.h"
#include "linux/app/tray_icon.h"
#include "linux/app/tray_menu.h"
#include "linux/app/xcb_hot_keys.h"
#include "linux/app/xdg_autostart.h"
#include "linux/island/island_presenter.h"
#include "linux/jump/linux_terminal_jump.h"
#include "linux/nap/blackout_windows.h"
#include "linux/nap/dbus_power.h"
#include "linux/nap/desktop_motion_settings.h"
#include "linux/nap/pam_authenticator.h"
#include "linux/qt/qt_application.h"
#include "linux/qt/qt_dispatcher.h"
#include "linux/qt/qt_screens.h"
#include "linux/remote/remote_hosts.h"
#include "nap/overlay_state.h"

namespace tovami {
class ApprovalNotifier;
class ApprovalServer;
}  // namespace tovami

namespace tovami::linux_backend {

class CompositionRoot {
 public:
  // `waylandSession`: the desktop session is Wayland (the program still speaks X11 where it can).
  CompositionRoot(int argc, char** argv, bool waylandSession);
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
  void rebuildTrayMenu();
  void showApprovalsInTray();
  void showApprovalNotifications();
  static std::function<void(const std::string&, ApprovalDecision)> answerApproval();
  std::vector<TrayMenuModel::AgentRow> agentRows() const;
  bool islandEnabled() const;
  void setIslandEnabled(bool on);
  void jumpToAgent(int32_t pid);
  void installNap();
  void installIsland();
  IslandActions islandActions();
  // The termination sequence and the final flush of the preferences.
  void endSession();
  // Joins the services' threads.
  void shutDownServices();

  QtDispatcher dispatcher_;
  std::shared_ptr<JournalLogSink> logSink_;
  std::unique_ptr<SettingsStore> store_;
  CanberraSoundPlayer soundPlayer_;
  std::unique_ptr<SoundCues> cues_;
  XdgAutostart autostart_;
  QtScreenProvider screens_;
  QtApplication application_;
  // The nap's platform services (they outlive the delegate's use of them).
  std::unique_ptr<DesktopMotionSettings> motion_;
  std::unique_ptr<LinuxNapDesktop> napDesktop_;
  std::unique_ptr<PamAuthenticator> authenticator_;
  std::unique_ptr<DBusPowerManagement> power_;
  std::unique_ptr<GlobalHotKeys> hotKeys_;
  bool portalHotKeys_ = false;
  HotKeyControl* hotKeyControl_ = nullptr;  // owned by the delegate
  std::shared_ptr<OverlayState> overlayState_;
  // Built on first use (an agent row, an approval, "--warp-jump").
  std::unique_ptr<LinuxTerminalJump> terminalJump_;
  std::unique_ptr<RemoteHosts> remoteHosts_;  // the links to other machines (remoteHosts)
  LinuxTerminalJump& terminalJump();
  // What the welcome tour asks about the accessibility bus.
  std::unique_ptr<AtspiAccessibility> tourAccessibility_;
  std::shared_ptr<AppDelegate> delegate_;
  std::unique_ptr<ScreenChangeObserver> screenObserver_;
  std::unique_ptr<TrayIcon> tray_;
  // The approvals' state outlives the notifier that follows it.
  std::shared_ptr<ApprovalServer> approvalServer_;
  std::unique_ptr<ApprovalNotifier> approvalNotifier_;
  // The island's window and drawing, made when the island is first placed on a display.
  std::unique_ptr<IslandPresenter> islandPresenter_;
  QPointer<SettingsWindow> settingsWindow_;
  bool hasX11_ = false;
  bool waylandSession_ = false;
  bool viewsGone_ = false;
  std::string sessionNotice_;
};

}  // namespace tovami::linux_backend
