// The application object on Linux: a QApplication without a main window, ending on
// "Quit Tovami", SIGTERM or SIGINT through the same orderly path.
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
  // Converts SIGTERM and SIGINT into terminate().
  void handleTerminationSignals();

 private:
  std::vector<std::string> arguments_;
  std::function<void()> willTerminate_;
  bool skipTermination_ = false;
  std::unique_ptr<QSocketNotifier> signalNotifier_;
};

}  // namespace tovami::linux_backend
