// The nap scene as a widget, placed inside each blackout window. It paints the window's dark
// with the scene in one pass and repaints only the parts that change (the cat, the twinkling
// dots, the fading hint), so an idle nap costs next to nothing.
#pragma once

#include <QWidget>
#include <memory>

#include "nap/nap_overlay_view.h"

namespace tovami::linux_backend {

class NapOverlayWidget final : public QWidget {
 public:
  // `backdrop`: the blackout window's dark, painted by this widget together with the scene.
  NapOverlayWidget(std::shared_ptr<OverlayState> state, Dispatcher& dispatcher,
                   std::shared_ptr<RandomSource> random, bool reduceMotion, QColor backdrop,
                   QWidget* parent = nullptr);
  ~NapOverlayWidget() override;

  const NapOverlayView& view() const { return *view_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void invalidate(const Rect& area);

  std::unique_ptr<NapOverlayView> view_;
  Color backdrop_;
};

}  // namespace tovami::linux_backend
