#include "linux/qt/qt_canvas.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainterPath>
#include <algorithm>

namespace tovami::linux_backend {

QtCanvas::QtCanvas(QPainter& painter) : painter_(painter) {
  painter_.setRenderHint(QPainter::Antialiasing, true);
  painter_.setRenderHint(QPainter::TextAntialiasing, true);
  painter_.setPen(Qt::NoPen);
}

QColor QtCanvas::toQColor(Color color) {
  QColor result(color.red, color.green, color.blue);
  result.setAlphaF(static_cast<float>(std::clamp(color.opacity, 0.0, 1.0)));
  return result;
}

QFont QtCanvas::toQFont(const FontStyle& font) {
  QFont result = font.monospaced ? QFontDatabase::systemFont(QFontDatabase::FixedFont) : QFont();
  // Sizes are in points of the scene, which are the painter's logical pixels.
  result.setPixelSize(std::max(1, static_cast<int>(font.pointSize + 0.5)));
  return result;
}

void QtCanvas::mirrorHorizontally(double axis) {
  painter_.translate(axis, 0);
  painter_.scale(-1, 1);
  painter_.translate(-axis, 0);
}

void QtCanvas::fillRect(const Rect& rect, Color color) {
  if (color.opacity <= 0) return;
  painter_.fillRect(QRectF(rect.x, rect.y, rect.width, rect.height), toQColor(color));
}

void QtCanvas::fillRoundedRect(const Rect& rect, double radius, Color color) {
  if (color.opacity <= 0) return;
  painter_.setPen(Qt::NoPen);
  painter_.setBrush(toQColor(color));
  painter_.drawRoundedRect(QRectF(rect.x, rect.y, rect.width, rect.height), radius, radius);
}

void QtCanvas::fillEllipse(const Rect& rect, Color color) {
  if (color.opacity <= 0) return;
  painter_.setPen(Qt::NoPen);
  painter_.setBrush(toQColor(color));
  painter_.drawEllipse(QRectF(rect.x, rect.y, rect.width, rect.height));
}

void QtCanvas::fillPath(const VectorPath& path, Color color) {
  if (color.opacity <= 0) return;
  QPainterPath qpath;
  for (const auto& element : path.elements()) {
    switch (element.verb) {
      case VectorPath::Verb::moveTo:
        qpath.moveTo(element.point.x, element.point.y);
        break;
      case VectorPath::Verb::lineTo:
        qpath.lineTo(element.point.x, element.point.y);
        break;
      case VectorPath::Verb::quadTo:
        qpath.quadTo(element.control.x, element.control.y, element.point.x, element.point.y);
        break;
      case VectorPath::Verb::close:
        qpath.closeSubpath();
        break;
    }
  }
  painter_.fillPath(qpath, toQColor(color));
}

void QtCanvas::drawText(std::string_view text, Point topLeft, const FontStyle& font, Color color) {
  if (color.opacity <= 0) return;
  const QFont qfont = toQFont(font);
  const QFontMetricsF metrics(qfont);
  painter_.save();
  painter_.setFont(qfont);
  painter_.setPen(toQColor(color));
  painter_.drawText(QPointF(topLeft.x, topLeft.y + metrics.ascent()),
                    QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  painter_.restore();
}

Size QtCanvas::measureText(std::string_view text, const FontStyle& font) const {
  const QFontMetricsF metrics(toQFont(font));
  return {metrics.horizontalAdvance(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))),
          metrics.height()};
}

}  // namespace tovami::linux_backend
