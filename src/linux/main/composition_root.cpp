#include "linux/main/composition_root.h"

#include <QApplication>
#include <QScreen>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "agents/agent_listing.h"
#include "agents/agent_watcher.h"
#include "agents/claude_session_reader.h"
#include "agents/terminal_jump.h"
#include "app/command_line.h"
#include "app/hot_key_manager.h"
#include "app/platform_wording.h"
#include "app/preference_keys.h"
#include "nap/nap_controller.h"
#include "linux/nap/desktop_motion_settings.h"
#include "linux/nap/nap_overlay_widget.h"
#include "linux/nap/overlay_renderer.h"
#include "linux/agents/proc_sampler.h"
#include "linux/agents/x11_running_apps.h"
#include "platform/log.h"

namespace tovami::linux_backend {
namespace {

// Qt ends the process with exit() when the X server goes away; the orderly end runs then too.
std::function<void()>& endAtExit() {
  static std::function<void()> end;
  return end;
}

TranscriptLookup transcriptLookup() {
  auto reader = std::make_shared<ClaudeSessionReader>(
      claude_code::ClaudeCodeLocations::fromEnvironment(claude_code::processEnvironment()));
  return [reader](const std::string& projectPath) { return reader->read(projectPath); };
}

void installAgentWatcher(Dispatcher& dispatcher, PreferenceStore& store, PowerManagement& power,
                         SoundCues& cues) {
  AgentWatcher::setFactory([&dispatcher, &store, &power, &cues] {
    return std::make_shared<AgentWatcher>(AgentWatcherDependencies{
        dispatcher, store, std::shared_ptr<ProcessSampler>(makeLinuxProcessSampler()),
        std::make_shared<X11RunningApplications>(), std::make_shared<PowerSupplyBatteryReader>(), power,
        transcriptLookup(), []() -> NapControl* { return NapController::shared().get(); }, nullptr,
        [&cues](SoundCue cue) { cues.playCue(cue); }});
  });
}

// --list-agents FORMAT: one scan, printed to standard output.
int listAgents(const std::string& format, Clock& clock) {
  const auto parsed = parseAgentListFormat(format);
  if (!parsed) {
    std::fprintf(stderr, "tovami: --list-agents takes \"text\" or \"json\", not \"%s\"\n", format.c_str());
    return 2;
  }
  auto sampler = makeLinuxProcessSampler();
  X11RunningApplications apps;
  AgentScanner scanner(*sampler, apps, transcriptLookup());
  const auto result = scanner.scan(clock.now());
  if (!result) {
    std::fprintf(stderr, "tovami: the process table could not be read\n");
    return 1;
  }
  const std::string report = formatAgentList(result->entries, *parsed);
  std::fwrite(report.data(), 1, report.size(), stdout);
  std::fflush(stdout);
  return 0;
}

TerminalJump& terminalJump() {
  static LoggingTerminalJump jump;
  return jump;
}

}  // namespace

CompositionRoot::CompositionRoot(int argc, char** argv)
    : logSink_(std::make_shared<JournalLogSink>()),
      autostart_(XdgAutostart::defaultDirectory(), QCoreApplication::applicationFilePath()),
      application_(argc, argv) {
  setLogSink(logSink_);
  store_ = std::make_unique<SettingsStore>(SettingsStore::defaultFilePath(), dispatcher_.mainQueue());
  cues_ = std::make_unique<SoundCues>(
      *store_, soundPlayer_, [] { return NapController::exists() && NapController::shared()->isNapping(); });
  installNap();
  installAgentWatcher(dispatcher_, *store_, *power_, *cues_);
  delegate_ = std::make_shared<AppDelegate>(
      AppEnvironment{application_, dispatcher_, *store_, screens_}, makeServices(),
      std::make_unique<HotKeyManagerControl>(
          std::make_shared<HotKeyManager>(*hotKeys_, dispatcher_.mainQueue())));
  application_.setWillTerminate([this] {
    endSession();
    if (!delegate_->ranOneShot()) logInfo(log_categories::kApp, "tovami ended");
  });
  application_.handleTerminationSignals();
  endAtExit() = [this] {
    logError(log_categories::kApp, "the display connection is gone; ending");
    endSession();
  };
  static const bool hooked = std::atexit([] {
                               if (auto end = std::exchange(endAtExit(), nullptr)) end();
                             }) == 0;
  (void)hooked;
}

void CompositionRoot::endSession() {
  delegate_->applicationWillTerminate();
  store_->flush();
}

CompositionRoot::~CompositionRoot() {
  if (AgentWatcher::exists()) AgentWatcher::shared()->shutDown();
  endAtExit() = nullptr;
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
  services.agentWatcher = []() -> StartStopControl* { return AgentWatcher::shared().get(); };
  services.oneShotHandlers[std::string(switches::kListAgents)] = [this](const std::string& format) {
    const int status = listAgents(format, dispatcher_.clock());
    if (status == 0)
      application_.terminate();
    else
      application_.exitNow(status);
  };
  return services;
}

void CompositionRoot::launch() {
  delegate_->applicationDidFinishLaunching();
  if (delegate_->ranOneShot()) return;  // the program is ending: no tray, no observers
  screenObserver_ = std::make_unique<ScreenChangeObserver>([this] { delegate_->screensChanged(); });
  tray_ = std::make_unique<TrayIcon>();
  tray_->setMenuBuilder([this](QMenu& menu) { buildTrayMenu(menu); });
  // The agent rows follow the watcher; the switch follows the settings window.
  if (auto watcher = AgentWatcher::shared()) {
    watcher->state().addObserver([this, shown = std::make_shared<std::vector<std::string>>()] {
      std::vector<std::string> titles;
      for (const auto& session : AgentWatcher::shared()->state().sessions())
        titles.push_back(agentMenuTitle(session));
      if (titles == *shown) return;
      *shown = std::move(titles);
      if (tray_) tray_->rebuildMenu();
    });
  }
  store_->addObserver([this](std::string_view key) {
    if (key == prefs::kAgentWatchEnabled && tray_) tray_->rebuildMenu();
  });
  logInfo(log_categories::kApp, "tovami started");
}

void CompositionRoot::buildTrayMenu(QMenu& menu) {
  QAction* startNap = menu.addAction("Start Nap", [] { NapController::shared()->startNap(); });
  startNap->setShortcut(QKeySequence(QString::fromUtf8(wording::kNapHotKey)));  // shown beside the item
  QAction* agentWatch = menu.addAction("Agent Watch");
  agentWatch->setCheckable(true);
  agentWatch->setChecked(store_->boolValue(prefs::kAgentWatchEnabled));
  QObject::connect(agentWatch, &QAction::toggled, [this](bool on) {
    applyServiceSwitch(*store_, prefs::kAgentWatchEnabled, on, AgentWatcher::shared().get());
  });
  if (auto watcher = AgentWatcher::shared(); watcher && !watcher->state().sessions().empty()) {
    menu.addSeparator();
    for (const AgentSession& session : watcher->state().sessions())
      // "&" in a folder name is text, not a keyboard mnemonic.
      menu.addAction(QString::fromStdString(agentMenuTitle(session)).replace("&", "&&"),
                     [session] { terminalJump().jump(session); });
  }
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
