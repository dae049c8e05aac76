#include "linux/qt/qt_application.h"

#include <sys/socket.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "linux/x11/xcb_support.h"

namespace tovami::linux_backend {
namespace {

int signalPipe[2] = {-1, -1};
std::atomic<bool> signalPending{false};

void onTerminationSignal(int signal) {
  if (signalPending.exchange(true)) {
    // The first request was never picked up: the loop is stuck, so end the way the sender expects.
    ::signal(signal, SIG_DFL);
    ::raise(signal);
    return;
  }
  const char byte = 1;
  [[maybe_unused]] auto written = ::write(signalPipe[0], &byte, 1);
}

std::function<void(bool)>& displayLossEnding() {
  static std::function<void(bool)> ending;
  return ending;
}

QtMessageHandler previousHandler = nullptr;

// The nap maps its covers itself, before Qt shows them, so that the display goes dark at once; Qt
// then finds its window mapped already and calls that an internal error, at every nap.
bool isCoverMappedAheadNotice(const QMessageLogContext& context, const QString& message) {
  return context.category && qstrcmp(context.category, "qt.qpa.xcb") == 0 &&
         message.contains(QLatin1String("setNetWmStateOnUnmappedWindow")) &&
         message.contains(QLatin1String("called on mapped window"));
}

// Qt warns ("The X11 connection broke") right before it calls exit(1): the last moment at which
// every Qt object is still there.
void watchMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (isCoverMappedAheadNotice(context, message)) return;
  if (previousHandler) previousHandler(type, context, message);
  if (type == QtDebugMsg || type == QtInfoMsg) return;
  xcb_connection_t* connection = qtXcbConnection();
  if (!connection || !xcb_connection_has_error(connection)) return;
  if (auto ending = std::exchange(displayLossEnding(), nullptr)) {
    ending(true);
    std::fflush(nullptr);
    std::_Exit(1);  // no static destructors beside threads that may still run
  }
}

}  // namespace

QtApplication::QtApplication(int argc, char** argv) {
  for (int i = 0; i < argc; ++i) arguments_.emplace_back(argv[i]);
  connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
    if (!skipTermination_ && willTerminate_) willTerminate_();
  });
}

QtApplication::~QtApplication() {
  displayLossEnding() = nullptr;
}

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
    signalPending = false;
    terminate();
  });
  struct sigaction action = {};
  action.sa_handler = onTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  // SIGHUP comes at logout; SIGQUIT asks to quit too (a core dump is of no use to anyone here).
  for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) sigaction(signal, &action, nullptr);
}

void QtApplication::handleDisplayLoss(std::function<void(bool qtAlive)> ending) {
  if (!qtXcbConnection()) return;  // no X connection to lose
  displayLossEnding() = std::move(ending);
  previousHandler = qInstallMessageHandler(watchMessages);
  static const bool hooked = std::atexit([] {
                               if (auto end = std::exchange(displayLossEnding(), nullptr)) end(false);
                             }) == 0;
  (void)hooked;
}

}  // namespace tovami::linux_backend
