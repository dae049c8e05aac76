#include "linux/app/tray_icon_figure.h"

#include <QPainter>
#include <QPainterPathStroker>

namespace tovami::linux_backend {

QPainterPath trayIconFigure(bool attention) {
  QPainterPath cat;
  cat.moveTo(6, 33);
  cat.cubicTo(4.5, 26.5, 7.5, 20, 15, 17.4);
  cat.cubicTo(18.6, 16.1, 22.4, 15.5, 26, 15.9);
  cat.lineTo(28.2, 9);  // the ears
  cat.lineTo(32.6, 14.6);
  cat.lineTo(36.6, 9);
  cat.lineTo(39.8, 16.2);
  cat.cubicTo(41.6, 18.6, 42.2, 23.2, 41.2, 27.4);
  cat.cubicTo(40.2, 32.4, 36, 35.8, 30, 36.2);
  cat.lineTo(13, 36.2);
  cat.cubicTo(9, 36.2, 7, 35, 6, 33);
  cat.closeSubpath();
  QPainterPath mark;
  if (attention) {
    mark.addEllipse(QRectF(7, 5, 10, 10));
  } else {
    QPainterPath z;
    z.moveTo(8, 7);
    z.lineTo(15.5, 7);
    z.lineTo(8, 14);
    z.lineTo(15.5, 14);
    QPainterPathStroker stroker;
    stroker.setWidth(3);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    mark = stroker.createStroke(z);
  }
  return cat.united(mark);
}

// Tray hosts show an item's pixmap as it is, over panels that may be dark or light, and tell the
// program neither colour. So the cat is off-white with a thin dark rim: it reads on both, as a
// tinted template image does where the system tints it.
QImage renderTrayIcon(bool attention, int pixels) {
  QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const double scale = pixels / 44.0;
  painter.scale(scale, scale);
  const QPainterPath path = trayIconFigure(attention);
  const double rimPixels = pixels / 30.0;  // 0.6 pixel at 18: the Z keeps its gaps
  painter.strokePath(
      path, QPen(QColor(20, 17, 16, 220), 2 * rimPixels / scale, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.fillPath(path, QColor(250, 249, 245));
  return image;
}

QImage halveTrayIcon(const QImage& large) {
  return large.scaled(large.width() / 2, large.height() / 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

}  // namespace tovami::linux_backend
