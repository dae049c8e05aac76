#include "linux/qt/qt_canvas.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QIcon>
#include <QImage>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <algorithm>
#include <cmath>

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
  switch (font.weight) {
    case FontWeight::regular:
      break;
    case FontWeight::medium:
      result.setWeight(QFont::Medium);
      break;
    case FontWeight::semibold:
      result.setWeight(QFont::DemiBold);
      break;
  }
#if QT_VERSION >= QT_VERSION_CHECK(6, 7, 0)
  if (font.monospacedDigits && !font.monospaced) result.setFeature("tnum", 1);
#endif
  return result;
}

QPainterPath QtCanvas::toQPath(const VectorPath& path) {
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
  return qpath;
}

void QtCanvas::setOpacity(double opacity) {
  painter_.setOpacity(painter_.opacity() * std::clamp(opacity, 0.0, 1.0));
}

void QtCanvas::clipToPath(const VectorPath& path) {
  painter_.setClipPath(toQPath(path), painter_.hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
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
  painter_.fillPath(toQPath(path), toQColor(color));
}

void QtCanvas::strokeRoundedRect(const Rect& rect, double radius, double lineWidth, Color color) {
  if (color.opacity <= 0 || lineWidth <= 0) return;
  const double inset = lineWidth / 2;
  const QRectF inner(rect.x + inset, rect.y + inset, rect.width - lineWidth, rect.height - lineWidth);
  if (inner.width() <= 0 || inner.height() <= 0) return;
  painter_.save();
  painter_.setBrush(Qt::NoBrush);
  painter_.setPen(QPen(toQColor(color), lineWidth));
  const double r = std::max(0.0, std::min(radius - inset, std::min(inner.width(), inner.height()) / 2));
  painter_.drawRoundedRect(inner, r, r);
  painter_.restore();
}

void QtCanvas::fillShadow(const VectorPath& path, Color color, double radius, Point offset) {
  if (color.opacity <= 0) return;
  // A blur approximated by layers: the outline grown by ever wider strokes, each faint, so the
  // density falls off towards the edge of the radius.
  constexpr int kLayers = 8;
  QPainterPath shape = toQPath(path).translated(offset.x, offset.y);
  QColor layer = toQColor(color.withOpacity(color.opacity / kLayers * 1.6));
  painter_.save();
  painter_.setPen(Qt::NoPen);
  for (int i = kLayers; i >= 1; --i) {
    QPainterPathStroker stroker;
    stroker.setWidth(2 * radius * i / kLayers);
    stroker.setJoinStyle(Qt::RoundJoin);
    stroker.setCapStyle(Qt::RoundCap);
    painter_.fillPath(stroker.createStroke(shape).united(shape), layer);
  }
  painter_.restore();
}

void QtCanvas::drawSymbol(std::string_view name, const Rect& rect, Color color) {
  if (color.opacity <= 0 || rect.width <= 0 || rect.height <= 0) return;
  const QString iconName = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
  if (QIcon::fallbackThemeName().isEmpty()) QIcon::setFallbackThemeName("Adwaita");
  const QIcon icon = QIcon::fromTheme(iconName);
  const QRectF target(rect.x, rect.y, rect.width, rect.height);
  const double density = std::max(1.0, painter_.device() ? painter_.device()->devicePixelRatioF() : 1.0);
  const QSize pixels(static_cast<int>(std::ceil(rect.width * density * painter_.worldTransform().m11())),
                     static_cast<int>(std::ceil(rect.height * density * painter_.worldTransform().m22())));
  QImage image = icon.isNull() ? QImage() : icon.pixmap(pixels).toImage();
  if (image.isNull()) {
    drawFallbackSymbol(name, target, toQColor(color));
    return;
  }
  // Keep the icon's shape, take the colour.
  image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  {
    QPainter tint(&image);
    tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
    tint.fillRect(image.rect(), toQColor(color.withOpacity(1)));
  }
  painter_.save();
  painter_.setOpacity(painter_.opacity() * std::clamp(color.opacity, 0.0, 1.0));
  painter_.setRenderHint(QPainter::SmoothPixmapTransform, true);
  painter_.drawImage(target, image);
  painter_.restore();
}

void QtCanvas::drawFallbackSymbol(std::string_view name, const QRectF& rect, const QColor& color) {
  const double side = std::min(rect.width(), rect.height());
  const QRectF box(rect.center().x() - side / 2, rect.center().y() - side / 2, side, side);
  const auto at = [&box](double fx, double fy) {
    return QPointF(box.x() + fx * box.width(), box.y() + fy * box.height());
  };
  painter_.save();
  if (name.starts_with("audio-volume")) {
    QPainterPath speaker;
    speaker.moveTo(at(0.05, 0.35));
    speaker.lineTo(at(0.3, 0.35));
    speaker.lineTo(at(0.55, 0.1));
    speaker.lineTo(at(0.55, 0.9));
    speaker.lineTo(at(0.3, 0.65));
    speaker.lineTo(at(0.05, 0.65));
    speaker.closeSubpath();
    painter_.fillPath(speaker, color);
    painter_.setBrush(Qt::NoBrush);
    painter_.setPen(QPen(color, std::max(1.0, side * 0.1), Qt::SolidLine, Qt::RoundCap));
    if (name.find("muted") != std::string_view::npos) {
      painter_.drawLine(at(0.68, 0.32), at(0.95, 0.68));
      painter_.drawLine(at(0.95, 0.32), at(0.68, 0.68));
    } else {
      painter_.drawArc(QRectF(at(0.4, 0.3), at(0.75, 0.7)), -50 * 16, 100 * 16);
      painter_.drawArc(QRectF(at(0.35, 0.12), at(0.95, 0.88)), -50 * 16, 100 * 16);
    }
  } else {
    // A gear: a ring with eight teeth.
    QPainterPath gear;
    const QPointF centre = box.center();
    for (int i = 0; i < 8; ++i) {
      QPainterPath tooth;
      tooth.addRect(QRectF(-side * 0.09, -side * 0.5, side * 0.18, side * 0.3));
      gear.addPath(QTransform().translate(centre.x(), centre.y()).rotate(45.0 * i).map(tooth));
    }
    gear.addEllipse(centre, side * 0.36, side * 0.36);
    QPainterPath hole;
    hole.addEllipse(centre, side * 0.14, side * 0.14);
    painter_.fillPath(gear.simplified().subtracted(hole), color);
  }
  painter_.restore();
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

std::string QtCanvas::elideText(std::string_view text, const FontStyle& font, double maxWidth) const {
  const QString whole = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  const QFontMetricsF metrics(toQFont(font));
  if (metrics.horizontalAdvance(whole) <= maxWidth) return std::string(text);
  // Qt cuts between grapheme clusters and keeps the ellipsis on the text's trailing side.
  return metrics.elidedText(whole, Qt::ElideRight, std::max(0.0, maxWidth)).toStdString();
}

Size QtCanvas::measureText(std::string_view text, const FontStyle& font) const {
  const QFontMetricsF metrics(toQFont(font));
  return {metrics.horizontalAdvance(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))),
          metrics.height()};
}

}  // namespace tovami::linux_backend
