#include "linux/qt/qt_screens.h"

#include <QGuiApplication>
#include <QScreen>
#include <cstdlib>

#include "app/camera_housing_setting.h"
#include "platform/log.h"

namespace tovami::linux_backend {
namespace {

// The housing declared by the development setting, if any; a malformed value is ignored with one log line.
std::optional<Size> declaredCameraHousing() {
  const char* text = std::getenv(kCameraHousingVariable);
  if (!text || !*text) return std::nullopt;
  auto housing = parseCameraHousing(text);
  static bool told = false;
  if (!housing && !told) {
    told = true;
    logError(log_categories::kApp, std::string(kCameraHousingVariable) + " is ignored: \"" + text +
                                       "\" is not WIDTHxHEIGHT in points (for example 200x32)");
  }
  return housing;
}

}  // namespace

std::vector<ScreenInfo> QtScreenProvider::screens() const {
  std::vector<ScreenInfo> result;
  const QScreen* primary = QGuiApplication::primaryScreen();
  const auto rect = [](const QRect& r) {
    return Rect{double(r.x()), double(r.y()), double(r.width()), double(r.height())};
  };
  const std::optional<Size> housing = declaredCameraHousing();
  for (QScreen* screen : QGuiApplication::screens()) {
    ScreenInfo info;
    info.frame = rect(screen->geometry());
    info.scale = screen->devicePixelRatio();
    info.visibleFrame = rect(screen->availableGeometry());
    info.primary = screen == primary;
    if (info.primary) info.cameraHousing = housing;
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
