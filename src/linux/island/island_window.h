// The island's window on X11: a frameless top-level panel above every other window, on every
// workspace, out of the taskbar, pager and window switcher, that never takes the keyboard focus.
// Only its outline takes the pointer (an X input shape): clicks anywhere else in the panel reach the
// windows below. Without a compositor the outline is also the window's visible shape, so the
// transparent rest of the panel cannot show as a black block.
#pragma once

#include <QPainterPath>
#include <QPropertyAnimation>
#include <QRegion>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <optional>

#include "platform/geometry.h"

namespace tovami::linux_backend {

class IslandWindow final : public QWidget {
 public:
  IslandWindow();
  ~IslandWindow() override;

  // Draws the panel's content; coordinates are panel points, top-left origin.
  void setPaintCallback(std::function<void(QPainter&)> paint) { paint_ = std::move(paint); }
  // The outline that takes the pointer (and, without a compositor, the only visible part), in
  // panel points. Cheap to call on every animation frame: an unchanged shape sends nothing.
  void setOutline(const QPainterPath& outline);
  void setOutline(const QList<QPolygonF>& polygons);
  const QPainterPath& outline() const { return outline_; }

  // Pointer callbacks, in panel points: entering or leaving the outline, moving over it, and a
  // single click (press and release) on it.
  void setOnHoverChanged(std::function<void(bool inside)> callback) { onHover_ = std::move(callback); }
  void setOnPointerMoved(std::function<void(QPointF)> callback) { onMove_ = std::move(callback); }
  void setOnClicked(std::function<void(QPointF)> callback) { onClick_ = std::move(callback); }
  // A button held down on the outline (its point), and let go or dragged away (nothing).
  void setOnPressChanged(std::function<void(std::optional<QPointF>)> callback) { onPress_ = std::move(callback); }
  bool pointerInside() const { return pointerInside_; }

  // Repaints about 60 times a second while true; an island that stands still runs no timer.
  // `onFrame` runs before each of those repaints (to move the outline along).
  void setAnimating(bool animating);
  void setOnFrame(std::function<void()> callback) { onFrame_ = std::move(callback); }
  bool isAnimating() const { return animating_; }
  // One repaint after `seconds` (the earliest request wins when several wait).
  void scheduleRedraw(double seconds);

  // Global coordinates in points, top-left origin.
  void setFrame(const Rect& frame);
  // How far down the panel the island reaches now, in points (outline and shadow aside): the window
  // is only that tall plus what the shadow and hover growth need, so a collapsed island holds a
  // buffer the size of its strip rather than of the whole panel. 0: the whole panel.
  void setIslandBottom(double bottom);
  // Brings the panel to the front without activating the program; `fadeIn` fades it in over 0.15 s.
  void orderFront(bool fadeIn);
  void orderOut();
  bool isShown() const { return isVisible(); }

  // Whether a compositing manager ran when the panel was last brought to the front.
  bool compositorRuns() const { return compositor_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void prepareNativeWindow();
  void applyGeometry();
  void applyShape(bool force);
  void setPointerInside(bool inside);
  // The part of the panel that the outline, its shadow and last frame's outline may cover.
  QRect dirtyArea() const;

  std::function<void(QPainter&)> paint_;
  std::function<void(bool)> onHover_;
  std::function<void(QPointF)> onMove_;
  std::function<void(QPointF)> onClick_;
  std::function<void()> onFrame_;
  std::function<void(std::optional<QPointF>)> onPress_;
  QPainterPath outline_;
  QRect panel_;
  int height_ = 0;  // the window's height within the panel; 0: the whole panel
  QRect paintedBounds_;
  QRegion sentShape_;  // device pixels, as last given to the X server
  bool shapeSent_ = false;
  bool boundingShaped_ = false;
  bool shapeAfterMap_ = false;
  bool pointerInside_ = false;
  bool pressInside_ = false;
  bool animating_ = false;
  bool compositor_ = false;
  QTimer frameTimer_;
  QTimer redrawTimer_;
  QPropertyAnimation fade_;
};

}  // namespace tovami::linux_backend
