// The application object on Linux: a QApplication without a main window, ending on "Quit Tovami",
// SIGTERM, SIGINT, SIGHUP or SIGQUIT through the same orderly path, and with a separate end for a
// display connection that breaks.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

#include "platform/application.h"

namespace tovami::linux_backend {

class QtApplication final : public QObject, public Application {
 public:
  QtApplication(int argc, char** argv);
  ~QtApplication() override;

  void setAccessoryPolicy() override;
  void terminate() override;
  void exitNow(int status) override;
  std::vector<std::string> arguments() const override { return arguments_; }

  // Runs `willTerminate` once, just before the event loop ends normally.
  void setWillTerminate(std::function<void()> willTerminate) { willTerminate_ = std::move(willTerminate); }
  // Converts SIGTERM, SIGINT, SIGHUP and SIGQUIT into terminate(). A second signal while the
  // first is still unhandled (the event loop is stuck) ends the process the default way.
  void handleTerminationSignals();
  // Qt ends the process with exit(1) when the X connection breaks. `ending(qtAlive)` runs once
  // before that: with qtAlive true on the main thread just before Qt's exit (every Qt object
  // still exists, the X connection is dead; the process then ends at once with status 1), or,
  // if Qt ended the process another way, from exit() itself with qtAlive false, when Qt's
  // globals may already be destroyed.
  void handleDisplayLoss(std::function<void(bool qtAlive)> ending);

 private:
  std::vector<std::string> arguments_;
  std::function<void()> willTerminate_;
  bool skipTermination_ = false;
  std::unique_ptr<QSocketNotifier> signalNotifier_;
};

}  // namespace tovami::linux_backend
