#include "linux/island/island_renderer.h"

#include <QBuffer>
#include <QByteArray>
#include <QPainter>
#include <cstdio>

#include "island/island_still.h"
#include "linux/nap/overlay_renderer.h"
#include "linux/qt/qt_canvas.h"

namespace tovami::linux_backend {

QImage renderIslandImage(Dispatcher& dispatcher) {
  const double scale = IslandStill::kScale;
  QImage image(static_cast<int>(IslandStill::kSize.width * scale),
               static_cast<int>(IslandStill::kSize.height * scale), QImage::Format_ARGB32_Premultiplied);
  if (image.isNull()) return image;
  image.setDevicePixelRatio(scale);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  QtCanvas canvas(painter);
  IslandStill::draw(canvas, dispatcher);
  painter.end();
  return image;
}

bool renderIsland(const std::string& path, Dispatcher& dispatcher) {
  bool ok = false;
  const QImage image = renderIslandImage(dispatcher);
  if (!image.isNull()) {
    QByteArray png;
    QBuffer buffer(&png);
    // The backdrop is opaque, so the picture needs no alpha channel.
    const QImage opaque = image.convertToFormat(QImage::Format_RGB32);
    if (buffer.open(QIODevice::WriteOnly) && opaque.save(&buffer, "PNG") && !png.isEmpty())
      ok = writeFileCompletely(path, png);
  }
  if (!ok) {
    std::fputs("render failed\n", stderr);
    std::fflush(stderr);
  }
  return ok;
}

}  // namespace tovami::linux_backend
