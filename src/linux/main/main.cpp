// Tovami on Linux: naps and agent watch for people who run coding agents.
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "linux/main/composition_root.h"

namespace {

bool hasDisplay() {
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 && *x11) || (wayland && *wayland);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv, argv + argc);
  if (!hasDisplay()) {
    // One-shot tools draw off screen; the program itself needs a graphical session.
    if (tovami::findOneShotSwitch(arguments)) {
      setenv("QT_QPA_PLATFORM", "offscreen", 0);
    } else if (!std::getenv("QT_QPA_PLATFORM")) {
      std::fprintf(stderr, "tovami: no display (DISPLAY is not set); start it inside a graphical session\n");
      return 1;
    }
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName("Tovami");
  QApplication::setApplicationVersion(TOVAMI_VERSION);
  QApplication::setDesktopFileName("app.tovami.Tovami");

  tovami::linux_backend::CompositionRoot root(argc, argv);
  QTimer::singleShot(0, &app, [&root] { root.launch(); });
  return QApplication::exec();
}
