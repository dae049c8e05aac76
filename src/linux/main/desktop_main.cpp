// The desktop program (tovami-desktop, started by the tovami entry): the tray program, and the
// renders, which draw with an off-screen Qt.
#include <QApplication>
#include <QGuiApplication>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/display_session.h"
#include "linux/app/accessibility_bus_probe.h"
#include "linux/app/single_instance.h"
#include "linux/island/island_renderer.h"
#include "linux/jump/linux_terminal_jump.h"
#include "linux/main/composition_root.h"
#include "linux/main/entry.h"
#include "linux/nap/overlay_renderer.h"
#include "linux/qt/qt_dispatcher.h"
#include "platform/log.h"

namespace {

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// --render-overlay PATH: the nap scene as a PNG, whatever display the session has.
int renderOverlayStill(const std::string& path, int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication application(argc, argv);
  tovami::linux_backend::QtDispatcher dispatcher;
  return tovami::linux_backend::renderOverlay(path, dispatcher) ? 0 : 1;  // a failure said "render failed"
}

// --render-island PATH: the expanded island with sample content as a PNG, likewise.
int renderIslandStill(const std::string& path, int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication application(argc, argv);
  tovami::linux_backend::QtDispatcher dispatcher;
  return tovami::linux_backend::renderIsland(path, dispatcher) ? 0 : 1;  // a failure said "render failed"
}

// --dump-ax APP: the application's accessibility tree, read over D-Bus (no window needed).
int dumpAccessibilityTree(const std::string& appName, int argc, char** argv) {
  QCoreApplication application(argc, argv);
  return tovami::linux_backend::dumpAxTool(appName);
}

// --warp-jump TEXT: Warp's palette typed through XTest; it ends the program by itself.
int warpJump(const std::string& query, int argc, char** argv) {
  QCoreApplication application(argc, argv);
  tovami::linux_backend::QtDispatcher dispatcher;
  tovami::linux_backend::LinuxTerminalJump jump(dispatcher);
  std::optional<int> status;
  tovami::linux_backend::warpJumpTool(query, jump, dispatcher, [&status](int code) {
    status = code;
    QCoreApplication::exit(code);
  });
  return status ? *status : QCoreApplication::exec();
}

int runOneShot(const tovami::OneShotRequest& oneShot, int argc, char** argv) {
  namespace switches = tovami::switches;
  if (oneShot.name == switches::kDumpAx) return dumpAccessibilityTree(oneShot.value, argc, argv);
  if (oneShot.name == switches::kWarpJump) return warpJump(oneShot.value, argc, argv);
  if (oneShot.name == switches::kRenderIsland) return renderIslandStill(oneShot.value, argc, argv);
  return renderOverlayStill(oneShot.value, argc, argv);
}

int runDesktopProgram(int argc, char** argv) {
  const tovami::DisplaySession session =
      tovami::chooseDisplaySession({environment("DISPLAY"), environment("WAYLAND_DISPLAY"),
                                    environment("XDG_SESSION_TYPE"), environment("QT_QPA_PLATFORM")});
  if (!session.qtPlatform.empty()) setenv("QT_QPA_PLATFORM", session.qtPlatform.c_str(), 1);
  QApplication app(argc, argv);
  QApplication::setApplicationName("Tovami");
  QApplication::setApplicationVersion(TOVAMI_VERSION);
  QApplication::setDesktopFileName("app.tovami.Tovami");

  tovami::linux_backend::SingleInstance instance;
  if (!instance.claim()) {
    std::puts("Tovami is already running");
    return 0;
  }
  // A hung accessibility bus launcher would hold the start 50 s (the bridge, made with the first
  // window or else when the event loop starts, reads two properties, 25 s each). Told that
  // accessibility is on, the bridge skips those reads and asks for the bus's address without
  // waiting: it joins when an answer comes, and nothing waits when none does.
  const bool accessibilityHangs =
      tovami::linux_backend::accessibilityBusHangs(std::chrono::milliseconds(300));
  if (accessibilityHangs) setenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1", 0);
  tovami::linux_backend::CompositionRoot root(argc, argv, session.wayland);
  if (accessibilityHangs)
    tovami::logInfo(
        tovami::log_categories::kApp,
        "accessibility: the desktop's accessibility bus (org.a11y.Bus) does not answer; started without it");
  // Launched before the event loop starts, as a small tray program shows its item: the item's
  // registration goes out before the accessibility bridge's calls, which the event loop's start makes.
  root.launch();
  return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
  // A closed pipe on a log line is a failed write, not a reason to die.
  std::signal(SIGPIPE, SIG_IGN);
  const tovami::LaunchRequest request = tovami::parseCommandLine({argv, argv + argc});
  if (auto status = tovami::linux_backend::answerWithoutToolkit(request)) return *status;
  if (request.kind == tovami::LaunchRequest::Kind::oneShot) return runOneShot(request.oneShot, argc, argv);
  return runDesktopProgram(argc, argv);
}
