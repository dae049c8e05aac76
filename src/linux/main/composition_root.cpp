#include "linux/main/composition_root.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "agents/agent_watcher.h"
#include "agents/claude_session_reader.h"
#include "app/display_session.h"
#include "app/hot_key_manager.h"
#include "app/platform_wording.h"
#include "app/preference_keys.h"
#include "approvals/approval_hooks.h"
#include "approvals/approval_server.h"
#include "approvals/tmux_pane_answer.h"
#include "peers/presence_env.h"
#include "peers/status_line_installer.h"
#include "peers/usage_tracker.h"
#include "island/notch_island_controller.h"
#include "linux/agents/proc_sampler.h"
#include "linux/agents/process_runner.h"
#include "linux/agents/x11_running_apps.h"
#include "approvals/approval_notifier.h"
#include "linux/app/dbus_notifications.h"
#include "linux/integrations/claude_status_source.h"
#include "linux/integrations/curl_http_client.h"
#include "linux/integrations/posix_file_system.h"
#include "linux/integrations/unix_socket_service.h"
#include "linux/integrations/xtest_key_synthesizer.h"
#include "linux/jump/ewmh_answer_windows.h"
#include "linux/jump/linux_agent_attention.h"
#include "linux/jump/proc_jump_environment.h"
#include "linux/main/transcript_lookup.h"
#include "linux/nap/desktop_motion_settings.h"
#include "linux/nap/nap_overlay_widget.h"
#include "linux/nap/overlay_renderer.h"
#include "linux/nap/screen_lock_monitor.h"
#include "linux/onboarding/onboarding_window_controller.h"
#include "linux/remote/remote_rows_runtime_file.h"
#include "linux/x11/xcb_support.h"
#include "nap/nap_controller.h"
#include "nap/phone_presence.h"
#include "platform/log.h"

namespace tovami::linux_backend {
namespace {

// Well before the services start (the delegate waits 0.3 s): the notifications then already
// follow the approval server.
constexpr int kAfterTrayMs = 250;

void installAgentWatcher(Dispatcher& dispatcher, PreferenceStore& store, PowerManagement& power,
                         SoundCues& cues) {
  AgentWatcher::setFactory([&dispatcher, &store, &power, &cues] {
    return std::make_shared<AgentWatcher>(AgentWatcherDependencies{
        dispatcher, store, std::shared_ptr<ProcessSampler>(makeLinuxProcessSampler()),
        std::make_shared<X11RunningApplications>(), std::make_shared<PowerSupplyBatteryReader>(), power,
        agentLogs(), []() -> NapControl* { return NapController::shared().get(); },
        NotchIslandController::shared(), [&cues](SoundCue cue) { cues.playCue(cue); },
        std::make_shared<LinuxAgentAttention>()});
  });
}

// The login item starts the public entry, which the entry passes as argv[0].
QString entryPath(int argc, char** argv) {
  if (argc > 0 && argv[0][0] == '/' && QFileInfo(QString::fromLocal8Bit(argv[0])).isExecutable())
    return QString::fromLocal8Bit(argv[0]);
  return QCoreApplication::applicationFilePath();
}

// The entry the hooks name: the public `tovami` (argv[0], as the entry passes it), else the one
// beside this program (a build tree started directly). Empty when neither is found: the hooks
// then refuse to go in.
std::string hookEntryPath(int argc, char** argv) {
  const QString self = QCoreApplication::applicationFilePath();
  if (argc > 0 && argv[0][0] == '/') {
    const QFileInfo given(QString::fromLocal8Bit(argv[0]));
    if (given.isExecutable() && given.canonicalFilePath() != QFileInfo(self).canonicalFilePath())
      return given.absoluteFilePath().toStdString();
  }
  const QFileInfo beside(QFileInfo(self).absolutePath() + "/tovami");
  return beside.isExecutable() ? beside.absoluteFilePath().toStdString() : std::string();
}

// The Claude Code integrations: the approval server with its hooks, and the usage tracker.
struct Integrations {
  std::shared_ptr<FileSystem> files = std::make_shared<PosixFileSystem>();
  claude_code::ClaudeCodeLocations claude =
      claude_code::ClaudeCodeLocations::fromEnvironment(claude_code::processEnvironment());
  std::string socketPath = approvalSocketPath(claude_code::processEnvironment());
  std::string home = claude_code::processEnvironment()("HOME").value_or("");
  std::string runtime = runtimeFolder(claude_code::processEnvironment());
  std::shared_ptr<ApprovalHookService> claudeHooks, codexHooks, statusLine, presenceEnv;
  std::shared_ptr<TaskQueue> runtimeQueue;  // writes the runtime folder's files
  remote::RemoteRowsSnapshot remoteRows;    // main thread; the file "--list-agents" reads
  bool remoteRowsDue = false;               // its write is scheduled
  TaskQueue* mainQueue = nullptr;
  std::shared_ptr<PhonePresence> presence;
  std::shared_ptr<HookInstallControl> phonePush;
  std::unique_ptr<ScreenLockMonitor> lockMonitor;
};

// The presence file in the runtime folder, created and removed on the spot (a small file on the
// runtime folder's tmpfs).
class PresenceFile final : public PresenceMarker {
 public:
  explicit PresenceFile(std::string folder) : folder_(std::move(folder)) {}
  std::string path() const { return folder_.empty() ? folder_ : folder_ + "/" + kPresenceFileName; }
  void setPresent(bool present) override {
    if (folder_.empty()) return;
    if (!present) {
      if (::unlink(path().c_str()) != 0 && errno != ENOENT)
        logError(log_categories::kNap, "presence file not removed: " + std::string(std::strerror(errno)));
      return;
    }
    if (::mkdir(folder_.c_str(), 0700) != 0 && errno != EEXIST) return;
    const int fd = ::open(path().c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) ::close(fd);
  }

 private:
  std::string folder_;
};

// "Send Claude Code's phone notifications only while I'm away": the env entry, and the presence file
// following it.
class PhonePushSwitch final : public HookInstallControl {
 public:
  PhonePushSwitch(std::shared_ptr<ApprovalHookService> entry, std::shared_ptr<PhonePresence> presence)
      : entry_(std::move(entry)), presence_(std::move(presence)) {}
  bool install() override {
    const bool ok = entry_->install();
    presence_->setEnabled(ok);
    return ok;
  }
  bool remove() override {
    presence_->setEnabled(false);
    return entry_->remove();
  }
  void installInBackground() override {
    presence_->setEnabled(true);
    entry_->installInBackground();
  }
  std::optional<std::string> failureText() const override { return entry_->failureText(); }

 private:
  std::shared_ptr<ApprovalHookService> entry_;
  std::shared_ptr<PhonePresence> presence_;
};

Integrations& integrations() {
  static Integrations shared;
  return shared;
}

void installHookServices(Dispatcher& dispatcher, const std::string& entryPath) {
  auto& parts = integrations();
  auto listening = [] { return ApprovalServer::exists() && ApprovalServer::shared()->isListening(); };
  parts.claudeHooks = std::make_shared<ApprovalHookService>(
      HookInstaller(parts.files, approval_hooks::claudeCode(parts.claude.settingsPath().string(), parts.home,
                                                            entryPath, parts.socketPath)),
      dispatcher.mainQueue(), dispatcher.makeSerialQueue("app.tovami.hooks"), listening);
  parts.codexHooks = std::make_shared<ApprovalHookService>(
      HookInstaller(parts.files,
                    approval_hooks::codex(approval_hooks::codexHooksPath(claude_code::processEnvironment()),
                                          parts.home, entryPath, parts.socketPath)),
      dispatcher.mainQueue(), dispatcher.makeSerialQueue("app.tovami.hooks"), listening);
  // The wrapper prints the user's line whether or not anybody listens: no need to wait for the server.
  parts.statusLine = std::make_shared<ApprovalHookService>(
      std::make_shared<StatusLineInstaller>(
          parts.files,
          HookFile{parts.claude.settingsPath().string(),
                   approval_hooks::claudeCode(parts.claude.settingsPath().string(), parts.home, entryPath,
                                              parts.socketPath)
                       .displayPath,
                   claude_code::kAgentName,
                   {}},
          entryPath, parts.socketPath),
      dispatcher.mainQueue(), dispatcher.makeSerialQueue("app.tovami.hooks"), [] { return true; });
  parts.runtimeQueue = dispatcher.makeSerialQueue("app.tovami.runtime");
  parts.mainQueue = &dispatcher.mainQueue();
  auto presenceFile = std::make_shared<PresenceFile>(parts.runtime);
  parts.presence = std::make_shared<PhonePresence>(presenceFile);
  parts.presenceEnv = std::make_shared<ApprovalHookService>(
      std::make_shared<PresenceEnvInstaller>(parts.files,
                                             HookFile{parts.claude.settingsPath().string(),
                                                      approval_hooks::claudeCode(parts.claude.settingsPath().string(),
                                                                                 parts.home, entryPath, parts.socketPath)
                                                          .displayPath,
                                                      claude_code::kAgentName,
                                                      {}},
                                             presenceFile->path()),
      dispatcher.mainQueue(), dispatcher.makeSerialQueue("app.tovami.hooks"), [] { return true; });
  parts.phonePush = std::make_shared<PhonePushSwitch>(parts.presenceEnv, parts.presence);
}

// A status line input: the meter, the session's row, and the file "--list-agents" reads.
void statusLineArrived(const StatusLineFeed& feed) {
  if (UsageTracker::exists()) UsageTracker::shared()->reportStatusLine(feed);
  if (!AgentWatcher::exists()) return;
  AgentWatchState& state = AgentWatcher::shared()->state();
  state.addStatusLine(feed);
  auto& parts = integrations();
  if (parts.runtime.empty() || !parts.runtimeQueue) return;
  parts.runtimeQueue->async([files = parts.files, folder = parts.runtime, text = state.statusLines().serialized()] {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return;
    if (auto error = files->replaceContents(folder + "/" + kStatusLinesFile, text))
      logError(log_categories::kApprovals, "status line file not written: " + *error);
  });
}

// Writes the other machines' rows for "--list-agents" (or removes the file once no host has rows).
void writeRemoteRows() {
  auto& parts = integrations();
  parts.remoteRowsDue = false;
  if (!parts.runtimeQueue) return;  // the program is ending: the file goes with it
  const std::string path = parts.runtime + "/" + remote::kRemoteRowsFile;
  if (parts.remoteRows.empty()) {
    parts.runtimeQueue->async([path] { ::unlink(path.c_str()); });
    return;
  }
  parts.runtimeQueue->async(
      [files = parts.files, folder = parts.runtime, path, text = parts.remoteRows.serialized(thisRowsWriter())] {
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return;
        if (auto error = files->replaceContents(path, text))
          logError(log_categories::kApp, "the other machines' rows not written: " + *error);
      });
}

// A host's rows as the views got them (none when its link ended). Rows change at every scan of
// every host, so the file follows within a second, at most once a second whatever the hosts.
void remoteRowsShown(const std::string& host, const std::vector<AgentSession>& rows) {
  auto& parts = integrations();
  if (parts.runtime.empty() || !parts.runtimeQueue || !parts.mainQueue || !parts.remoteRows.show(host, rows) ||
      parts.remoteRowsDue)
    return;
  parts.remoteRowsDue = true;
  parts.mainQueue->asyncAfter(1.0, writeRemoteRows);
}

// `jump` gives the terminal jump when the approval server is first used (a terminal outside tmux
// is brought forward before the answer is typed).
void installIntegrations(Dispatcher& dispatcher, PreferenceStore& store, SoundCues& cues,
                         std::function<std::shared_ptr<TerminalJump>()> jump,
                         std::function<std::shared_ptr<AnswerWindows>()> windows) {
  ApprovalServer::setFactory([&dispatcher, &store, &cues, jump, windows] {
    auto& parts = integrations();
    return std::make_shared<ApprovalServer>(ApprovalServerDependencies{
        dispatcher, store, std::make_shared<UnixSocketService>(), parts.socketPath,
        []() -> std::vector<AgentSession> {
          auto sessions = AgentWatcher::exists() ? AgentWatcher::shared()->state().sessions()
                                                 : std::vector<AgentSession>{};
          // Another machine's agents are never answered by keys typed here.
          std::erase_if(sessions, [](const AgentSession& s) { return s.host.has_value(); });
          return sessions;
        },
        [] { return NapController::exists() && NapController::shared()->isNapping(); },
        std::make_shared<X11RunningApplications>(), NotchIslandController::shared(),
        [&cues](SoundCue cue) { cues.playCue(cue); }, jump(),
        std::make_shared<TmuxPaneAnswer>(std::make_shared<PosixProcessLauncher>(),
                                         std::make_shared<ProcJumpEnvironment>()),
        std::make_shared<XTestKeySynthesizer>(), nullptr, claudeStatusSource(parts.claude), windows(),
        std::make_shared<LinuxAgentAttention>(), statusLineArrived});
  });
  UsageTracker::setFactory([&dispatcher, &store] {
    auto& parts = integrations();
    return std::make_shared<UsageTracker>(UsageTrackerDependencies{
        dispatcher, store,
        std::make_shared<CredentialFile>(parts.files, parts.claude.credentialsPath().string()),
        std::make_shared<CurlHttpClient>()});
  });
}

}  // namespace

CompositionRoot::CompositionRoot(int argc, char** argv, bool waylandSession)
    : logSink_(std::make_shared<JournalLogSink>()),
      autostart_(XdgAutostart::defaultDirectory(), entryPath(argc, argv)),
      application_(argc, argv) {
  setLogSink(logSink_);
  waylandSession_ = waylandSession;
  hasX11_ = qtXcbConnection() != nullptr;
  store_ = std::make_unique<SettingsStore>(SettingsStore::defaultFilePath(), dispatcher_.mainQueue());
  cues_ = std::make_unique<SoundCues>(
      *store_, soundPlayer_, [] { return NapController::exists() && NapController::shared()->isNapping(); });
  installNap();
  installIsland();
  installAgentWatcher(dispatcher_, *store_, *power_, *cues_);
  installIntegrations(
      dispatcher_, *store_, *cues_, [this] { return terminalJump().jumper().shared_from_this(); },
      [this] { return std::make_shared<EwmhAnswerWindows>(terminalJump().windows()); });
  installHookServices(dispatcher_, hookEntryPath(argc, argv));
  auto hotKeyControl = std::make_unique<HotKeyManagerControl>(
      std::make_shared<HotKeyManager>(*hotKeys_, dispatcher_.mainQueue()));
  hotKeyControl_ = hotKeyControl.get();
  delegate_ = std::make_shared<AppDelegate>(AppEnvironment{application_, dispatcher_, *store_, screens_},
                                            makeServices(), std::move(hotKeyControl));
  application_.setWillTerminate([this] {
    endSession();
    logInfo(log_categories::kApp, "tovami ended");
  });
  application_.handleTerminationSignals();
  application_.handleDisplayLoss([this](bool qtAlive) {
    logError(log_categories::kApp, "the display connection is gone; ending");
    // Views are neither rebuilt nor refreshed from here on: their display is gone, and once Qt
    // has begun to end, so may be the toolkit's own globals.
    viewsGone_ = true;
    if (qtAlive) {
      if (settingsWindow_) settingsWindow_->detach();
      endSession();
      shutDownServices();
    } else {
      store_->flush();
    }
  });
  const QString platform = QGuiApplication::platformName();
  sessionNotice_ = displaySessionNotice(waylandSession, hasX11_,
                                        platform != "offscreen" && platform != "minimal", portalHotKeys_);
}

void CompositionRoot::endSession() {
  delegate_->applicationWillTerminate();
  store_->flush();
}

void CompositionRoot::shutDownServices() {
  remoteHosts_.reset();
  if (AgentWatcher::exists()) AgentWatcher::shared()->shutDown();
  if (UsageTracker::exists()) UsageTracker::shared()->shutDown();
  if (ApprovalServer::exists()) ApprovalServer::shared()->shutDown();
  for (auto* hooks : {integrations().claudeHooks.get(), integrations().codexHooks.get(), integrations().statusLine.get(),
                      integrations().presenceEnv.get()})
    if (hooks) hooks->shutDown();
  // Without Tovami nobody follows the desk: Claude Code's pushes go out as they would without it.
  integrations().lockMonitor.reset();
  if (integrations().presence) integrations().presence->setEnabled(false);
  if (auto& parts = integrations(); parts.runtimeQueue) {
    parts.runtimeQueue.reset();  // waits for a write under way
    if (!parts.runtime.empty())
      for (const char* name : {kStatusLinesFile, remote::kRemoteRowsFile}) ::unlink((parts.runtime + "/" + name).c_str());
  }
}

CompositionRoot::~CompositionRoot() {
  if (!viewsGone_) delete settingsWindow_;
  shutDownServices();
  setLogSink(nullptr);
}

void CompositionRoot::installNap() {
  napDesktop_ = std::make_unique<LinuxNapDesktop>(screens_);
  authenticator_ =
      std::make_unique<PamAuthenticator>([this]() -> QWidget* { return napDesktop_->keyWindow(); });
  power_ = std::make_unique<DBusPowerManagement>();
  // Before anything else asks the portal: its host registry wants to come first.
  const HotKeyRoute route =
      chooseHotKeyRoute(waylandSession_, hasX11_, [] { return PortalGlobalHotKeys::offered(); });
  portalHotKeys_ = route == HotKeyRoute::portal;
  if (portalHotKeys_)
    hotKeys_ = std::make_unique<PortalGlobalHotKeys>(QGuiApplication::desktopFileName());
  else
    hotKeys_ = std::make_unique<XcbGlobalHotKeys>();
  napDesktop_->setCanHoldKeyboard(!waylandSession_);
  overlayState_ = std::make_shared<OverlayState>(dispatcher_);
  // Read once now and followed from then on; a nap only looks at the remembered value. Kept
  // windows carry a scene made for the old value: the next nap builds fresh ones.
  motion_ = std::make_unique<DesktopMotionSettings>();
  motion_->setOnChange([this] {
    napDesktop_->discardIdleWindows();
    napDesktop_->prepareWindows();
  });
  napDesktop_->setContentFactory([this](BlackoutWindow* parent, const ScreenInfo&) -> QWidget* {
    return new NapOverlayWidget(overlayState_, dispatcher_, systemRandomSource(), motion_->reduceMotion(),
                                parent->backdrop(), parent);
  });
  napDesktop_->setOnKeyboardUnavailable([] {
    if (NapController::exists()) NapController::shared()->endNap();
  });
  NapController::setFactory([this] {
    return std::make_shared<NapController>(NapControllerDependencies{
        dispatcher_, *store_, *napDesktop_, *napDesktop_, *authenticator_, *power_,
        std::make_shared<PresenceNapLink>(NotchIslandController::shared(), integrations().presence), overlayState_,
        [this](SoundCue cue) { cues_->playCue(cue); }});
  });
}

// The island: its controller (placing, opening, closing) and, once it is first placed, its window.
void CompositionRoot::installIsland() {
  NotchIslandController::setFactory([this] {
    return std::make_shared<NotchIslandController>(NotchIslandControllerDependencies{
        dispatcher_, *store_, screens_, *motion_,
        [this]() -> std::unique_ptr<IslandPanel> {
          if (!hasX11_) return nullptr;  // the island's window needs X11
          if (!islandPresenter_) {
            auto controller = NotchIslandController::shared();
            islandPresenter_ = std::make_unique<IslandPresenter>(
                controller->state(),
                IslandSources{dispatcher_, *store_, *motion_, systemRandomSource(),
                              []() -> AgentWatchState* {
                                return AgentWatcher::exists() ? &AgentWatcher::shared()->state() : nullptr;
                              },
                              []() -> UsageState* {
                                return UsageTracker::exists() ? &UsageTracker::shared()->state() : nullptr;
                              },
                              []() -> ApprovalState* {
                                return ApprovalServer::exists() ? &ApprovalServer::shared()->state()
                                                                : nullptr;
                              }},
                islandActions());
          }
          return islandPresenter_->makePanel();
        },
        [] {
          if (!ApprovalServer::exists()) return false;
          const ApprovalState& state = ApprovalServer::shared()->state();
          return state.pending() || state.notice();  // a notice stays readable until it goes
        }});
  });
}

IslandActions CompositionRoot::islandActions() {
  IslandActions actions;
  actions.jumpToAgent = [this](int32_t pid) { jumpToAgent(pid); };
  actions.napNow = [] { NapController::shared()->startNap(); };
  actions.scheduleNap = [](Seconds delay) { NapController::shared()->scheduleDelayedNap(delay); };
  actions.toggleNapWhenIdle = [] {
    if (!AgentWatcher::exists()) return;
    AgentWatchState& state = AgentWatcher::shared()->state();
    state.setNapWhenIdleArmed(!state.napWhenIdleArmed());
  };
  actions.openSettings = [this] { openSettings(); };
  actions.answer = answerApproval();
  return actions;
}

AppServices CompositionRoot::makeServices() {
  AppServices services;
  services.island = []() -> IslandControl* { return NotchIslandController::shared().get(); };
  services.nap = []() -> NapControl* { return NapController::shared().get(); };
  services.agentWatcher = []() -> StartStopControl* { return AgentWatcher::shared().get(); };
  services.approvalServer = []() -> StartStopControl* { return ApprovalServer::shared().get(); };
  services.usageTracker = []() -> StartStopControl* { return UsageTracker::shared().get(); };
  services.hookInstaller = []() -> HookInstallControl* { return integrations().claudeHooks.get(); };
  services.codexHookInstaller = []() -> HookInstallControl* { return integrations().codexHooks.get(); };
  services.statusLineInstaller = []() -> HookInstallControl* { return integrations().statusLine.get(); };
  services.phonePush = []() -> HookInstallControl* { return integrations().phonePush.get(); };
  services.makeTourWindow = [this](HotKeyControl* hotKey) -> std::unique_ptr<TourWindow> {
    if (!tourAccessibility_) tourAccessibility_ = std::make_unique<AtspiAccessibility>();
    return std::make_unique<OnboardingWindowController>(OnboardingDependencies{
        *store_, dispatcher_.mainQueue(), hotKey, [] { NapController::shared()->startNap(); }, makeServices(),
        authenticator_.get(), tourAccessibility_.get(),
        [this] { return anyScreenHasCameraHousing(screens_); }, motion_.get(), !waylandSession_});
  };
  return services;
}

LinuxTerminalJump& CompositionRoot::terminalJump() {
  if (!terminalJump_) terminalJump_ = std::make_unique<LinuxTerminalJump>(dispatcher_);
  return *terminalJump_;
}

void CompositionRoot::launch() {
  tray_ = std::make_unique<TrayIcon>();
  integrations().lockMonitor = std::make_unique<ScreenLockMonitor>([](bool locked) {
    if (integrations().presence) integrations().presence->setLocked(locked);
  });
  tray_->setMenuBuilder([this](QMenu& menu) { buildTrayMenu(menu); });
  // The agent rows follow the watcher (a row is its title and its pid: two sessions may share a
  // title); the switches follow the settings window.
  if (auto watcher = AgentWatcher::shared()) {
    watcher->state().addObserver([this, shown = std::make_shared<std::vector<TrayMenuModel::AgentRow>>()] {
      auto rows = agentRows();
      if (rows == *shown) return;
      *shown = std::move(rows);
      if (tray_ && !viewsGone_) tray_->rebuildMenuSoon();
    });
  }
  store_->addObserver([this](std::string_view key) {
    if (key == prefs::kAgentWatchEnabled || key == prefs::kIslandEnabled || key == prefs::kIslandOnNonNotch)
      rebuildTrayMenu();
    if ((key == prefs::kIslandEnabled || key == prefs::kIslandOnNonNotch) && approvalNotifier_)
      approvalNotifier_->refresh();
  });
  remoteHosts_ = std::make_unique<RemoteHosts>(
      dispatcher_,
      RemoteHostsViews{[](const std::string& host, std::vector<AgentSession> rows) {
                         remoteRowsShown(host, rows);
                         if (AgentWatcher::exists()) AgentWatcher::shared()->setRemoteSessions(host, std::move(rows));
                       },
                       [](const std::string& host, const nlohmann::json& object,
                          std::shared_ptr<ConversationReply> reply) -> std::optional<std::string> {
                         if (auto server = ApprovalServer::shared())
                           return server->presentRemote(host, object, std::move(reply));
                         reply->send({});
                         return std::nullopt;
                       },
                       [](const std::string& card) {
                         if (ApprovalServer::exists()) ApprovalServer::shared()->withdrawRemote(card);
                       },
                       [](const std::string& host) {
                         if (AgentWatcher::exists()) AgentWatcher::shared()->announceRemote(host);
                       }});
  const auto linkHosts = [this] {
    const auto hosts = [this](std::string_view key) {
      return RemoteHosts::parseHostList(store_->stringValue(key).value_or(""));
    };
    if (remoteHosts_) remoteHosts_->setHosts(hosts(prefs::kRemoteHosts), hosts(prefs::kRemoteApprovalHosts));
  };
  linkHosts();
  store_->addObserver([linkHosts](std::string_view key) {
    if (key == prefs::kRemoteHosts || key == prefs::kRemoteApprovalHosts) linkHosts();
  });
  showApprovalsInTray();
  if (!sessionNotice_.empty()) {
    logError(log_categories::kApp, sessionNotice_);
    tray_->setNotice(sessionNotice_);
  }
  // The tray item first: its registration travels while the rest starts, and the services
  // themselves wait a moment (the delegate schedules them).
  delegate_->applicationDidFinishLaunching();
  screenObserver_ = std::make_unique<ScreenChangeObserver>([this] { delegate_->screensChanged(); });
  // What can wait until the tray item has registered: the desktop's motion setting (a nap before
  // then moves), the approval notifications, and the first nap's windows (the first nap should
  // cover the screens as fast as the later ones; a nap before then builds them itself).
  QTimer::singleShot(kAfterTrayMs, napDesktop_.get(), [this] {
    motion_->follow();
    showApprovalNotifications();
    napDesktop_->prepareWindows();
  });
  logInfo(log_categories::kApp, "tovami started");
}

void CompositionRoot::rebuildTrayMenu() {
  if (tray_ && !viewsGone_) tray_->rebuildMenu();
}

// While an approval waits, the tray's cat shows a dot and the menu's first rows answer it; while
// the island does not show it, a desktop notification does. A notice of an answer not delivered
// opens the island (where it is on) and keeps it open while it stands.
void CompositionRoot::showApprovalsInTray() {
  auto server = ApprovalServer::shared();
  if (!server) return;
  approvalServer_ = server;
  server->state().addObserver([this, shownRows = std::make_shared<std::vector<ApprovalMenuRow>>(),
                               hadNotice = std::make_shared<bool>(false)] {
    if (!tray_ || viewsGone_) return;
    const ApprovalState& state = approvalServer_->state();
    tray_->setAttention(state.pending().has_value());
    if (auto rows = approvalMenuRows(state); rows != *shownRows) {
      *shownRows = std::move(rows);
      rebuildTrayMenu();
    }
    const bool notice = state.notice().has_value();
    if (notice != *hadNotice) {
      *hadNotice = notice;
      auto island = NotchIslandController::shared();
      if (notice)
        island->openForApproval();
      else if (!state.pending())
        island->scheduleCollapseCheck();
    }
  });
}

void CompositionRoot::showApprovalNotifications() {
  if (!approvalServer_ || approvalNotifier_ || viewsGone_) return;
  approvalNotifier_ = std::make_unique<ApprovalNotifier>(ApprovalNotifierDependencies{
      approvalServer_->state(), std::make_shared<DBusNotifications>(), dispatcher_.clock(),
      [this] { return hasX11_ && islandEnabled(); }, answerApproval()});
}

std::function<void(const std::string&, ApprovalDecision)> CompositionRoot::answerApproval() {
  return [](const std::string& requestId, ApprovalDecision decision) {
    if (ApprovalServer::exists()) ApprovalServer::shared()->answer(requestId, decision);
  };
}

// The island's switch reads and writes the key for the kind of display connected, as the
// settings window does.
bool CompositionRoot::islandEnabled() const {
  return NotchIslandController::shared()->isEnabled();
}

void CompositionRoot::setIslandEnabled(bool on) {
  NotchIslandController::shared()->setEnabled(on);
}

std::vector<TrayMenuModel::AgentRow> CompositionRoot::agentRows() const {
  std::vector<TrayMenuModel::AgentRow> rows;
  if (auto watcher = AgentWatcher::shared())
    for (const AgentSession& session : watcher->state().sessions())
      rows.push_back({agentMenuTitle(session), session.pid});
  return rows;
}

void CompositionRoot::buildTrayMenu(QMenu& menu) {
  TrayMenuModel model;
  model.napAvailable = hasX11_;  // a nap covers the screens and holds the input through X11
  model.islandOn = islandEnabled();
  model.agentWatchOn = store_->boolValue(prefs::kAgentWatchEnabled);
  model.agents = agentRows();
  if (approvalServer_) model.approvals = approvalMenuRows(approvalServer_->state());
  model.answer = answerApproval();
  model.startNap = [] { NapController::shared()->startNap(); };
  model.setIslandOn = [this](bool on) { setIslandEnabled(on); };
  model.setAgentWatchOn = [this](bool on) {
    applyServiceSwitch(*store_, prefs::kAgentWatchEnabled, on, AgentWatcher::shared().get());
  };
  model.jumpToAgent = [this](int32_t pid) { jumpToAgent(pid); };
  model.openSettings = [this] { openSettings(); };
  model.openAbout = [] {
    if (!QDesktopServices::openUrl(QUrl(kProductPage)))
      logError(log_categories::kApp, std::string("could not open ") + kProductPage + " in a browser");
  };
  model.quit = [this] { application_.terminate(); };
  fillTrayMenu(menu, model);
}

// The row names the agent by pid: the jump uses the watcher's latest facts about it.
void CompositionRoot::jumpToAgent(int32_t pid) {
  auto watcher = AgentWatcher::shared();
  if (!watcher) return;
  for (const AgentSession& session : watcher->state().sessions()) {
    if (session.pid != pid) continue;
    // A click that does nothing beats one that raises the wrong session.
    if (session.host) {
      if (remoteHosts_) remoteHosts_->jump(pid, [this](const AgentSession& ssh) { terminalJump().jumper().jump(ssh); });
      return;
    }
    return terminalJump().jumper().jump(session);
  }
  logInfo(log_categories::kAgentWatch, "jump: agent " + std::to_string(pid) + " has ended");
}

// Built once and kept: closing hides it, and reopening shows the same window.
void CompositionRoot::openSettings() {
  if (!settingsWindow_) {
    auto model = std::make_unique<SettingsModel>(*store_, autostart_, makeServices(),
                                                 anyScreenHasCameraHousing(screens_), [] {
                                                   if (auto delegate = AppDelegate::shared())
                                                     delegate->showOnboarding();
                                                 });
    settingsWindow_ = new SettingsWindow(
        std::move(model), *store_, SettingsSessionFacts{sessionNotice_, !waylandSession_, hotKeyControl_});
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
