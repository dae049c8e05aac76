// Displays from Qt. Linux displays have no camera housing to dodge; the development setting
// TOVAMI_CAMERA_HOUSING=WIDTHxHEIGHT declares one on the primary display.
#pragma once

#include <QObject>
#include <QScreen>
#include <functional>

#include "platform/screens.h"

namespace tovami::linux_backend {

class QtScreenProvider final : public ScreenProvider {
 public:
  std::vector<ScreenInfo> screens() const override;
};

// Calls `onChange` on the main thread whenever a display is added, removed or changes geometry.
class ScreenChangeObserver final : public QObject {
 public:
  explicit ScreenChangeObserver(std::function<void()> onChange);

 private:
  void watch(QScreen* screen);
  std::function<void()> onChange_;
};

}  // namespace tovami::linux_backend
