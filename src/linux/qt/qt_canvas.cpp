#include "linux/qt/qt_canvas.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QIcon>
#include <QImage>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/built_in_font.h"

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

bool QtCanvas::needsShaping(const QString& text) {
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    // Latin, Latin-1 and Latin Extended, and the punctuation, symbols and arrows of U+2010 to
    // U+2BFF, less the invisible joiners, marks and bidirectional controls among them. Anything
    // else (combining marks, other scripts, a surrogate of an emoji) is shaped.
    const bool plain = u < 0x0300 || (u >= 0x2010 && u <= 0x2BFF && !(u >= 0x2028 && u <= 0x202E) &&
                                      !(u >= 0x2060 && u <= 0x206F));
    if (!plain) return true;
  }
  return false;
}

QFont QtCanvas::toQFont(const FontStyle& font, const QString& text) {
  QFont result = font.monospaced ? QFontDatabase::systemFont(QFontDatabase::FixedFont) : QFont();
  // Sizes are in points of the scene, which are the painter's logical pixels.
  result.setPixelSize(std::max(1, static_cast<int>(font.pointSize + 0.5)));
  if (!needsShaping(text)) result.setStyleStrategy(QFont::PreferNoShaping);
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
  const ShadowImage& shadow = shadowOf(path, color, radius);
  if (shadow.image.isNull()) return;
  painter_.save();
  painter_.setRenderHint(QPainter::SmoothPixmapTransform, true);
  painter_.drawImage(shadow.placement.translated(offset.x, offset.y), shadow.image);
  painter_.restore();
}

namespace {

// One pass of a box blur over the alpha values of a w x h grid, along rows (step 1) or columns.
void boxBlur(std::vector<float>& alpha, int w, int h, int reach, bool alongRows) {
  const int lines = alongRows ? h : w, length = alongRows ? w : h;
  std::vector<float> line(static_cast<size_t>(length));
  const float scale = 1.0f / static_cast<float>(2 * reach + 1);
  for (int l = 0; l < lines; ++l) {
    auto at = [&](int i) -> float& {
      return alongRows ? alpha[static_cast<size_t>(l) * w + i] : alpha[static_cast<size_t>(i) * w + l];
    };
    for (int i = 0; i < length; ++i) line[static_cast<size_t>(i)] = at(i);
    float sum = 0;
    for (int i = -reach; i <= reach; ++i) sum += (i >= 0 && i < length) ? line[static_cast<size_t>(i)] : 0;
    for (int i = 0; i < length; ++i) {
      at(i) = sum * scale;
      const int out = i - reach, in = i + reach + 1;
      if (out >= 0) sum -= line[static_cast<size_t>(out)];
      if (in < length) sum += line[static_cast<size_t>(in)];
    }
  }
}

}  // namespace

const QtCanvas::ShadowImage& QtCanvas::shadowOf(const VectorPath& path, Color color, double radius) {
  // A still island asks for the same shadow on every repaint: the last few are kept.
  static std::vector<ShadowImage> cache;
  std::vector<double> key = {radius, double(color.red), double(color.green), double(color.blue),
                             color.opacity};
  for (const auto& e : path.elements())
    key.insert(key.end(), {double(e.verb), e.point.x, e.point.y, e.control.x, e.control.y});
  for (const auto& entry : cache)
    if (entry.key == key) return entry;
  // Two: each frame of a change has a shadow of its own, kept for nothing once the island rests.
  if (cache.size() >= 2) cache.erase(cache.begin());

  ShadowImage shadow;
  shadow.key = std::move(key);
  // A blur leaves no detail finer than its reach, so a wide one is worked out at one pixel per two
  // points (a quarter of the memory and of the work) and drawn smoothly scaled; a narrow one at one
  // pixel per point.
  const int reachInPoints = std::max(1, static_cast<int>(std::lround(radius / 2)));
  const int step = reachInPoints >= 4 ? 2 : 1;
  const QPainterPath shape = toQPath(path);
  const double margin = std::ceil(std::max(0.0, radius) * 1.5);
  const QRectF bounds = shape.boundingRect().adjusted(-margin, -margin, margin, margin);
  const int w = static_cast<int>(std::ceil(bounds.width() / step));
  const int h = static_cast<int>(std::ceil(bounds.height() / step));
  if (w > 0 && h > 0 && w <= 8192 && h <= 8192) {
    QImage mask(w, h, QImage::Format_Alpha8);
    mask.fill(0);
    {
      QPainter fill(&mask);
      fill.setRenderHint(QPainter::Antialiasing, true);
      fill.scale(1.0 / step, 1.0 / step);
      fill.translate(-bounds.x(), -bounds.y());
      fill.fillPath(shape, Qt::black);
    }
    std::vector<float> alpha(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
      const uchar* row = mask.constScanLine(y);
      for (int x = 0; x < w; ++x) alpha[static_cast<size_t>(y) * w + x] = row[x] / 255.0f;
    }
    mask = QImage();
    // Three box passes each way come close to a Gaussian blur of about half the radius.
    const int reach = std::max(1, reachInPoints / step);
    for (int pass = 0; pass < 3; ++pass) {
      boxBlur(alpha, w, h, reach, true);
      boxBlur(alpha, w, h, reach, false);
    }
    // A black shadow is its alpha alone: a quarter of the memory, drawn the same.
    const bool black = color.red == 0 && color.green == 0 && color.blue == 0;
    shadow.image = QImage(w, h, black ? QImage::Format_Alpha8 : QImage::Format_ARGB32_Premultiplied);
    const float opacity = static_cast<float>(std::clamp(color.opacity, 0.0, 1.0));
    for (int y = 0; y < h; ++y) {
      uchar* line = shadow.image.scanLine(y);
      for (int x = 0; x < w; ++x) {
        const float a = std::clamp(alpha[static_cast<size_t>(y) * w + x] * opacity, 0.0f, 1.0f);
        if (black)
          line[x] = static_cast<uchar>(qRound(255 * a));
        else
          reinterpret_cast<QRgb*>(line)[x] =
              qRgba(qRound(color.red * a), qRound(color.green * a), qRound(color.blue * a), qRound(255 * a));
      }
    }
    shadow.placement = QRectF(bounds.x(), bounds.y(), double(w) * step, double(h) * step);
  }
  cache.push_back(std::move(shadow));
  return cache.back();
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
  if (font.builtIn && built_in_font::covers(text))
    return drawBuiltInText(text, topLeft, font.pointSize, toQColor(color));
  const QString string = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  const QFont qfont = toQFont(font, string);
  const QFontMetricsF metrics(qfont);
  painter_.save();
  painter_.setFont(qfont);
  painter_.setPen(toQColor(color));
  painter_.drawText(QPointF(topLeft.x, topLeft.y + metrics.ascent()), string);
  painter_.restore();
}

void QtCanvas::drawBuiltInText(std::string_view text, Point topLeft, double pixelSize, const QColor& color) {
  QPointF baseline(topLeft.x, topLeft.y + built_in_font::ascent(pixelSize));
  double stretch = 1;
  // As a light hinting does: the baseline on a boundary between device pixels, and the x-height a
  // whole number of them, so that the small letters' tops and feet are sharp. The island's
  // transforms only scale and move. Below three pixels a letter has no shape to keep sharp.
  const QTransform device = painter_.deviceTransform();
  if (device.m22() > 0 && device.m12() == 0) {
    const double deviceY = device.map(baseline).y();
    baseline.ry() += (std::round(deviceY) - deviceY) / device.m22();
    const double xHeight = built_in_font::xHeight(pixelSize) * device.m22();
    if (xHeight >= 3) stretch = std::round(xHeight) / xHeight;
  }
  const QPainterPath path = toQPath(built_in_font::outline(text, pixelSize, {0, 0}));
  painter_.fillPath(QTransform(1, 0, 0, stretch, baseline.x(), baseline.y()).map(path), color);
}

std::string QtCanvas::elideText(std::string_view text, const FontStyle& font, double maxWidth) const {
  if (font.builtIn && built_in_font::covers(text) && built_in_font::width(text, font.pointSize) <= maxWidth)
    return std::string(text);
  const QString whole = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  const QFontMetricsF metrics(toQFont(font, whole));
  if (metrics.horizontalAdvance(whole) <= maxWidth) return std::string(text);
  // Qt cuts between grapheme clusters and keeps the ellipsis on the text's trailing side.
  return metrics.elidedText(whole, Qt::ElideRight, std::max(0.0, maxWidth)).toStdString();
}

Size QtCanvas::measureText(std::string_view text, const FontStyle& font) const {
  if (font.builtIn && built_in_font::covers(text))
    return {built_in_font::width(text, font.pointSize),
            built_in_font::ascent(font.pointSize) + built_in_font::descent(font.pointSize)};
  const QString string = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  const QFontMetricsF metrics(toQFont(font, string));
  return {metrics.horizontalAdvance(string), metrics.height()};
}

}  // namespace tovami::linux_backend
