#include "linux/qt/qt_application.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <csignal>

namespace tovami::linux_backend {
namespace {

int signalPipe[2] = {-1, -1};

void onTerminationSignal(int) {
  const char byte = 1;
  [[maybe_unused]] auto written = ::write(signalPipe[0], &byte, 1);
}

}  // namespace

QtApplication::QtApplication(int argc, char** argv) {
  for (int i = 0; i < argc; ++i) arguments_.emplace_back(argv[i]);
  connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
    if (!skipTermination_ && willTerminate_) willTerminate_();
  });
}

QtApplication::~QtApplication() = default;

void QtApplication::setAccessoryPolicy() {
  // No main window and no taskbar entry: closing the settings window must not end the program.
  QApplication::setQuitOnLastWindowClosed(false);
}

void QtApplication::terminate() {
  QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void QtApplication::exitNow(int status) {
  skipTermination_ = true;
  QCoreApplication::exit(status);
}

void QtApplication::handleTerminationSignals() {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
  signalNotifier_ = std::make_unique<QSocketNotifier>(signalPipe[1], QSocketNotifier::Read);
  connect(signalNotifier_.get(), &QSocketNotifier::activated, this, [this] {
    char byte;
    [[maybe_unused]] auto got = ::read(signalPipe[1], &byte, 1);
    terminate();
  });
  struct sigaction action = {};
  action.sa_handler = onTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

}  // namespace tovami::linux_backend
