#include "linux/nap/nap_overlay_widget.h"

#include <QPaintEvent>
#include <QPainter>
#include <cmath>

#include "linux/qt/qt_canvas.h"

namespace tovami::linux_backend {

NapOverlayWidget::NapOverlayWidget(std::shared_ptr<OverlayState> state, Dispatcher& dispatcher,
                                   std::shared_ptr<RandomSource> random, bool reduceMotion, QColor backdrop,
                                   QWidget* parent)
    : QWidget(parent),
      backdrop_{uint8_t(backdrop.red()), uint8_t(backdrop.green()), uint8_t(backdrop.blue()), backdrop.alphaF()} {
  // Every pixel is painted here, backdrop included: nothing is painted beneath first.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setFocusPolicy(Qt::NoFocus);
  view_ = std::make_unique<NapOverlayView>(std::move(state), dispatcher, std::move(random), reduceMotion,
                                           [this](Rect area) { invalidate(area); });
  view_->setBounds({static_cast<double>(width()), static_cast<double>(height())});
}

NapOverlayWidget::~NapOverlayWidget() {
  view_->disappear();
}

void NapOverlayWidget::invalidate(const Rect& area) {
  const int left = static_cast<int>(std::floor(area.x)) - 1;
  const int top = static_cast<int>(std::floor(area.y)) - 1;
  const int right = static_cast<int>(std::ceil(area.maxX())) + 1;
  const int bottom = static_cast<int>(std::ceil(area.maxY())) + 1;
  update(QRect(left, top, right - left, bottom - top));
}

void NapOverlayWidget::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  painter.setClipRegion(event->region());
  QtCanvas canvas(painter);
  view_->draw(canvas, backdrop_);
}

void NapOverlayWidget::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  view_->setBounds({static_cast<double>(width()), static_cast<double>(height())});
}

void NapOverlayWidget::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  view_->appear();
}

void NapOverlayWidget::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  view_->disappear();
}

}  // namespace tovami::linux_backend
