// Tovami on Linux: naps and agent watch for people who run coding agents.
#include <QApplication>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/display_session.h"
#include "linux/app/single_instance.h"
#include "linux/main/composition_root.h"
#include "linux/main/one_shot.h"

namespace {

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
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
  tovami::linux_backend::CompositionRoot root(argc, argv, session.wayland);
  QTimer::singleShot(0, &app, [&root] { root.launch(); });
  return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
  // A closed pipe on a log line or a listing is an error to report, not a reason to die.
  std::signal(SIGPIPE, SIG_IGN);
  const std::vector<std::string> arguments(argv, argv + argc);
  const tovami::LaunchRequest request = tovami::parseCommandLine(arguments);
  using Kind = tovami::LaunchRequest::Kind;
  switch (request.kind) {
    case Kind::help:
      std::fputs(tovami::usageText(tovami::linux_backend::unavailableOneShots()).c_str(), stdout);
      return 0;
    case Kind::version:
      std::puts("tovami " TOVAMI_VERSION);
      return 0;
    case Kind::missingValue:
      std::fprintf(stderr, "tovami: %s needs a value (see tovami --help)\n", request.oneShot.name.c_str());
      return 2;
    case Kind::oneShot:
      return tovami::linux_backend::runOneShot(request.oneShot, argc, argv);
    case Kind::runApp:
      break;
  }
  return runDesktopProgram(argc, argv);
}
