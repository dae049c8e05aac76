// The application object: how the program presents itself and how it ends.
#pragma once

#include <string>
#include <vector>

namespace tovami {

class Application {
 public:
  virtual ~Application() = default;
  // Runs without a main window or taskbar entry; the tray item is its face.
  virtual void setAccessoryPolicy() = 0;
  // Orderly end: the termination sequence runs, then the process exits with status 0.
  virtual void terminate() = 0;
  // Immediate end with the given status, without the termination sequence.
  virtual void exitNow(int status) = 0;
  virtual std::vector<std::string> arguments() const = 0;
};

}  // namespace tovami
