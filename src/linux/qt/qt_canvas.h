// The drawing surface of the figures on Linux: a QPainter on a widget or an image.
#pragma once

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <vector>

#include "platform/canvas.h"

namespace tovami::linux_backend {

class QtCanvas final : public Canvas {
 public:
  // The painter must outlive the canvas; drawing is antialiased.
  explicit QtCanvas(QPainter& painter);

  void save() override { painter_.save(); }
  void restore() override { painter_.restore(); }
  void translate(double dx, double dy) override { painter_.translate(dx, dy); }
  void mirrorHorizontally(double axis) override;
  void scale(double factor) override { painter_.scale(factor, factor); }
  void setOpacity(double opacity) override;
  void clipToPath(const VectorPath& path) override;

  void fillRect(const Rect& rect, Color color) override;
  void fillRoundedRect(const Rect& rect, double radius, Color color) override;
  void fillEllipse(const Rect& rect, Color color) override;
  void fillPath(const VectorPath& path, Color color) override;
  void strokeRoundedRect(const Rect& rect, double radius, double lineWidth, Color color) override;
  void fillShadow(const VectorPath& path, Color color, double radius, Point offset) override;
  void drawSymbol(std::string_view name, const Rect& rect, Color color) override;
  void drawText(std::string_view text, Point topLeft, const FontStyle& font, Color color) override;
  Size measureText(std::string_view text, const FontStyle& font) const override;
  std::string elideText(std::string_view text, const FontStyle& font, double maxWidth) const override;

  static QColor toQColor(Color color);
  // `text`: what the font draws. Text that needs no shaping (no combining marks, joiners, emoji or
  // complex script) is laid out glyph by glyph, without HarfBuzz: the island's own words then
  // cost no shaping tables per size and weight (about 80 kB each), nor HarfBuzz's code.
  static QFont toQFont(const FontStyle& font, const QString& text);
  static bool needsShaping(const QString& text);
  static QPainterPath toQPath(const VectorPath& path);

 private:
  struct ShadowImage {
    std::vector<double> key;
    QImage image;
    QRectF placement;  // in the path's coordinates
  };
  // The blurred shadow of `path`, kept for the next repaints (main thread only).
  static const ShadowImage& shadowOf(const VectorPath& path, Color color, double radius);
  // The stand-in for a symbol the icon theme lacks.
  void drawFallbackSymbol(std::string_view name, const QRectF& rect, const QColor& color);
  // A text `built_in_font` covers, from its outlines.
  void drawBuiltInText(std::string_view text, Point topLeft, double pixelSize, const QColor& color);

  QPainter& painter_;
};

}  // namespace tovami::linux_backend
