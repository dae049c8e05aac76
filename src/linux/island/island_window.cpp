#include "linux/island/island_window.h"

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "linux/x11/xcb_support.h"
#include "platform/log.h"

namespace tovami::linux_backend {
namespace {

constexpr int kFrameIntervalMs = 16;
constexpr int kFadeInMs = 150;
// What the content may paint around its outline: the shadow and the hover growth.
constexpr int kPaintMargin = 40;

xcb_connection_t* liveConnection() {
  xcb_connection_t* c = qtXcbConnection();
  return c && !xcb_connection_has_error(c) ? c : nullptr;
}

bool shapeAvailable(xcb_connection_t* c) {
  const xcb_query_extension_reply_t* shape = xcb_get_extension_data(c, &xcb_shape_id);
  if (shape && shape->present) return true;
  static bool told = false;
  if (!told) {
    told = true;
    logError(log_categories::kApp,
             "island: the X server has no SHAPE extension; the whole panel takes the pointer");
  }
  return false;
}

void setAtoms(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property,
              const std::vector<xcb_atom_t>& atoms) {
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, property, XCB_ATOM_ATOM, 32, uint32_t(atoms.size()),
                      atoms.data());
}

// The window manager's view of the panel: a notification-like utility window kept above the others
// (panels included), on every workspace, skipped by taskbars and pagers. Its WM_HINTS say it takes
// no input (Qt::WindowDoesNotAcceptFocus); without WM_TAKE_FOCUS the manager never offers it the
// focus either, so a click leaves the user's window active.
void describeToWindowManager(xcb_connection_t* c, xcb_window_t window) {
  const std::vector<xcb_atom_t> a = internAtoms(
      c, {"_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_NOTIFICATION", "_NET_WM_WINDOW_TYPE_UTILITY",
          "_NET_WM_STATE", "_NET_WM_STATE_ABOVE", "_NET_WM_STATE_STICKY", "_NET_WM_STATE_SKIP_TASKBAR",
          "_NET_WM_STATE_SKIP_PAGER", "_NET_WM_DESKTOP", "WM_PROTOCOLS", "WM_TAKE_FOCUS"});
  setAtoms(c, window, a[0], {a[1], a[2]});
  setAtoms(c, window, a[3], {a[4], a[5], a[6], a[7]});
  const uint32_t allDesktops = 0xFFFFFFFF;
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, a[8], XCB_ATOM_CARDINAL, 32, 1, &allDesktops);
  const xcb_atom_t protocols = a[9], takeFocus = a[10];
  XcbReply<xcb_get_property_reply_t> reply(
      xcb_get_property_reply(c, xcb_get_property(c, 0, window, protocols, XCB_ATOM_ATOM, 0, 32), nullptr));
  if (reply && reply->format == 32) {
    const auto* data = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
    std::vector<xcb_atom_t> kept(data, data + xcb_get_property_value_length(reply.get()) / 4);
    kept.erase(std::remove(kept.begin(), kept.end(), takeFocus), kept.end());
    setAtoms(c, window, protocols, kept);
  }
}

void sendShape(xcb_connection_t* c, xcb_window_t window, xcb_shape_kind_t kind, const QRegion& region) {
  std::vector<xcb_rectangle_t> rects;
  rects.reserve(size_t(region.rectCount()));
  for (const QRect& r : region)
    rects.push_back({int16_t(r.x()), int16_t(r.y()), uint16_t(r.width()), uint16_t(r.height())});
  xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, kind, XCB_CLIP_ORDERING_UNSORTED, window, 0, 0,
                       uint32_t(rects.size()), rects.data());
}

}  // namespace

IslandWindow::IslandWindow() : fade_(this, "windowOpacity") {
  setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                 Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint);
  setAttribute(Qt::WA_TranslucentBackground);  // before the native window exists: it picks the visual
  setAttribute(Qt::WA_ShowWithoutActivating);
  setAttribute(Qt::WA_NoSystemBackground);
  setFocusPolicy(Qt::NoFocus);
  setMouseTracking(true);
  setWindowTitle("Tovami island");
  frameTimer_.setInterval(kFrameIntervalMs);
  connect(&frameTimer_, &QTimer::timeout, this, [this] {
    if (onFrame_) onFrame_();
    update(dirtyArea());
  });
  redrawTimer_.setSingleShot(true);
  // A coarse timer may fire a little early, before the figure's next frame: one wasted repaint.
  redrawTimer_.setTimerType(Qt::PreciseTimer);
  connect(&redrawTimer_, &QTimer::timeout, this, [this] { update(dirtyArea()); });
  fade_.setDuration(kFadeInMs);
  fade_.setStartValue(0.0);
  fade_.setEndValue(1.0);
  winId();
  prepareNativeWindow();
}

IslandWindow::~IslandWindow() = default;

void IslandWindow::prepareNativeWindow() {
  if (xcb_connection_t* c = liveConnection()) {
    describeToWindowManager(c, xcb_window_t(winId()));
    xcb_flush(c);
  }
}

void IslandWindow::setOutline(const QPainterPath& outline) {
  outline_ = outline;
  applyShape(false);
}

void IslandWindow::setOutline(const QList<QPolygonF>& polygons) {
  QPainterPath path;
  path.setFillRule(Qt::WindingFill);
  for (const QPolygonF& polygon : polygons) {
    path.addPolygon(polygon);
    path.closeSubpath();
  }
  setOutline(path);
}

// The X server takes shapes in device pixels, relative to the window.
void IslandWindow::applyShape(bool force) {
  xcb_connection_t* c = liveConnection();
  if (!c || !shapeAvailable(c)) return;
  const double ratio = devicePixelRatioF();
  QRegion region;
  for (const QPolygonF& polygon : outline_.toFillPolygons(QTransform::fromScale(ratio, ratio)))
    region |= QRegion(polygon.toPolygon(), outline_.fillRule());
  if (!force && shapeSent_ && region == sentShape_) return;
  const auto window = xcb_window_t(winId());
  sendShape(c, window, XCB_SHAPE_SK_INPUT, region);
  if (!compositor_) {
    sendShape(c, window, XCB_SHAPE_SK_BOUNDING, region);
    boundingShaped_ = true;
  } else if (boundingShaped_) {
    xcb_shape_mask(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, window, 0, 0, XCB_PIXMAP_NONE);
    boundingShaped_ = false;
  }
  xcb_flush(c);
  sentShape_ = region;
  shapeSent_ = true;
}

void IslandWindow::setAnimating(bool animating) {
  animating_ = animating;
  if (animating_ && isVisible())
    frameTimer_.start();
  else
    frameTimer_.stop();
}

void IslandWindow::scheduleRedraw(double seconds) {
  const int ms = int(std::clamp(std::ceil(seconds * 1000), 0.0, 86400000.0));
  if (redrawTimer_.isActive() && redrawTimer_.remainingTime() <= ms) return;
  redrawTimer_.start(ms);
}

void IslandWindow::setFrame(const Rect& frame) {
  // Qt takes device-independent coordinates (points) and applies the screen's pixel ratio.
  panel_ = QRect(int(std::lround(frame.x)), int(std::lround(frame.y)), int(std::lround(frame.width)),
                 int(std::lround(frame.height)));
  applyGeometry();
  applyShape(false);  // a new screen may have another pixel ratio
}

void IslandWindow::setIslandBottom(double bottom) {
  height_ = bottom > 0 && bottom < 1e6 ? int(std::ceil(bottom)) + kPaintMargin : 0;
  applyGeometry();
}

// Only the height changes: the top-left corner, and with it every point of the content, the
// outline and the shapes, stay where they are.
void IslandWindow::applyGeometry() {
  if (panel_.isEmpty()) return;
  const int height = height_ > 0 ? std::min(height_, panel_.height()) : panel_.height();
  const QRect wanted(panel_.topLeft(), QSize(panel_.width(), height));
  if (wanted != geometry()) setGeometry(wanted);
}

void IslandWindow::orderFront(bool fadeIn) {
  if (xcb_connection_t* c = liveConnection()) {
    const bool compositor = compositorRunsOn(c, xcbScreenNumberOf(c, xcb_window_t(winId())));
    if (compositor != compositor_ || !shapeSent_) {
      compositor_ = compositor;
      applyShape(true);
    }
  }
  fade_.stop();
  const bool fade = fadeIn && compositor_;  // without a compositor the window's opacity means nothing
  setWindowOpacity(fade ? 0.0 : 1.0);
  if (!isVisible()) show();
  raise();
  if (fade) fade_.start();
}

void IslandWindow::orderOut() {
  fade_.stop();
  hide();
  setPointerInside(false);
}

void IslandWindow::showEvent(QShowEvent* event) {
  // A window manager drops the states of a withdrawn window; give them again before the map.
  prepareNativeWindow();
  shapeAfterMap_ = true;
  if (animating_) frameTimer_.start();
  QWidget::showEvent(event);
}

void IslandWindow::hideEvent(QHideEvent* event) {
  frameTimer_.stop();
  redrawTimer_.stop();
  QWidget::hideEvent(event);
}

QRect IslandWindow::dirtyArea() const {
  const QRect outline = outline_.boundingRect().toAlignedRect();
  return outline.united(paintedBounds_).adjusted(-kPaintMargin, -kPaintMargin, kPaintMargin, kPaintMargin) &
         rect();
}

void IslandWindow::paintEvent(QPaintEvent* event) {
  // Painting means the window is mapped, so its manager now follows its shape: a manager that
  // frames the window copies an input shape to the frame only when it changes (openbox does).
  if (shapeAfterMap_) {
    shapeAfterMap_ = false;
    applyShape(true);
  }
  QPainter painter(this);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.fillRect(event->rect(), Qt::transparent);
  painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  painter.setRenderHint(QPainter::Antialiasing);
  if (paint_) paint_(painter);
  paintedBounds_ = outline_.boundingRect().toAlignedRect();
}

void IslandWindow::setPointerInside(bool inside) {
  if (inside == pointerInside_) return;
  pointerInside_ = inside;
  if (!inside && pressInside_ && onPress_) onPress_(std::nullopt);
  if (!inside) pressInside_ = false;
  if (onHover_) onHover_(inside);
}

void IslandWindow::mouseMoveEvent(QMouseEvent* event) {
  const QPointF at = event->position();
  setPointerInside(outline_.contains(at));
  if (pointerInside_ && onMove_) onMove_(at);
}

void IslandWindow::mousePressEvent(QMouseEvent* event) {
  pressInside_ = event->button() == Qt::LeftButton && outline_.contains(event->position());
  if (pressInside_ && onPress_) onPress_(event->position());
  event->accept();
}

void IslandWindow::mouseReleaseEvent(QMouseEvent* event) {
  const QPointF at = event->position();
  const bool click = pressInside_ && event->button() == Qt::LeftButton && outline_.contains(at);
  if (pressInside_ && onPress_) onPress_(std::nullopt);
  pressInside_ = false;
  if (click && onClick_) onClick_(at);
}

// The toolkit drops a move to where the pointer last was, so a pointer that comes back to the same
// spot is only seen entering.
void IslandWindow::enterEvent(QEnterEvent* event) {
  setPointerInside(outline_.contains(event->position()));
  QWidget::enterEvent(event);
}

void IslandWindow::leaveEvent(QEvent* event) {
  setPointerInside(false);
  QWidget::leaveEvent(event);
}

}  // namespace tovami::linux_backend
