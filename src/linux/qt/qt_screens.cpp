#include "linux/qt/qt_screens.h"

#include <QGuiApplication>
#include <QScreen>

namespace tovami::linux_backend {

std::vector<ScreenInfo> QtScreenProvider::screens() const {
  std::vector<ScreenInfo> result;
  const QScreen* primary = QGuiApplication::primaryScreen();
  const auto rect = [](const QRect& r) { return Rect{double(r.x()), double(r.y()), double(r.width()), double(r.height())}; };
  for (QScreen* screen : QGuiApplication::screens()) {
    ScreenInfo info;
    info.frame = rect(screen->geometry());
    info.scale = screen->devicePixelRatio();
    info.visibleFrame = rect(screen->availableGeometry());
    info.primary = screen == primary;
    result.push_back(info);
  }
  return result;
}

ScreenChangeObserver::ScreenChangeObserver(std::function<void()> onChange) : onChange_(std::move(onChange)) {
  for (QScreen* screen : QGuiApplication::screens()) watch(screen);
  connect(qGuiApp, &QGuiApplication::screenAdded, this, [this](QScreen* screen) {
    watch(screen);
    onChange_();
  });
  connect(qGuiApp, &QGuiApplication::screenRemoved, this, [this] { onChange_(); });
}

void ScreenChangeObserver::watch(QScreen* screen) {
  connect(screen, &QScreen::geometryChanged, this, [this] { onChange_(); });
}

}  // namespace tovami::linux_backend
