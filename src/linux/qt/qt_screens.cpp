#include "linux/qt/qt_screens.h"

#include <QGuiApplication>
#include <QScreen>

namespace tovami::linux_backend {

std::vector<ScreenInfo> QtScreenProvider::screens() const {
  std::vector<ScreenInfo> result;
  for (QScreen* screen : QGuiApplication::screens()) {
    const QRect g = screen->geometry();
    result.push_back(ScreenInfo{Rect{double(g.x()), double(g.y()), double(g.width()), double(g.height())},
                                screen->devicePixelRatio(), false});
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
