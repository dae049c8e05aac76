// The blackout windows that cover the displays during a nap.
#pragma once

#include <memory>
#include <vector>

#include "platform/screens.h"

namespace tovami {

// How high a blackout window sits. `screenSaver` is above every other window, panels and docks
// included; `status` lets the system's (or our own) authentication prompt show above it.
enum class NapWindowLevel { screenSaver = 1000, status = 25 };

class NapWindow {
 public:
  virtual ~NapWindow() = default;
  // The window's frame in global coordinates (points).
  virtual Rect frame() const = 0;
  virtual void setLevel(NapWindowLevel level) = 0;
  // Shows the window in front without making it take keyboard focus.
  virtual void orderFrontRegardless() = 0;
  // Shows the window in front and makes it receive key events.
  virtual void makeKeyAndOrderFront() = 0;
  // Orders the window out and closes it; the window does nothing afterwards.
  virtual void close() = 0;
};

class NapWindowSystem {
 public:
  virtual ~NapWindowSystem() = default;
  // The current displays in the platform's order.
  virtual std::vector<ScreenInfo> screens() const = 0;
  // A borderless dark window covering `screen`'s full frame, on every workspace, not yet shown.
  virtual std::unique_ptr<NapWindow> makeBlackoutWindow(const ScreenInfo& screen) = 0;
  // Brings this application ahead of all others.
  virtual void activateIgnoringOtherApps() = 0;
};

}  // namespace tovami
