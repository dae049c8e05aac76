// What one repaint of the nap scene costs. An idle nap repaints the cat's area about 67 times
// a minute (a breath every 0.9 s), the dots' area 43 times (every 1.4 s) and, during a stroll,
// the cat's area every 0.15 s; multiply to get the share of one core.
#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>
#include <memory>

#include "bench_support.h"
#include "linux/qt/qt_canvas.h"
#include "nap/nap_overlay_view.h"
#include "platform/random.h"

namespace {

using namespace tovami;
using bench::ensureApplication;
using bench::StillDispatcher;

void repaint(benchmark::State& state, bool wholeScreen) {
  ensureApplication();
  StillDispatcher dispatcher;
  auto overlay = std::make_shared<OverlayState>(dispatcher);
  NapOverlayView view(overlay, dispatcher, systemRandomSource(), false, nullptr);
  view.setBounds({1920, 1080});
  QImage image(1920, 1080, QImage::Format_ARGB32_Premultiplied);
  const Rect cat = view.scene().catRect();
  const Rect scene = view.column().scene;
  // The area a breath repaints: the cat with its marks, as the widget asks for it.
  const QRect area(static_cast<int>(scene.x + cat.x) - 2, static_cast<int>(scene.y + cat.y) - 5, 160, 70);
  for (auto _ : state) {
    QPainter painter(&image);
    if (!wholeScreen) painter.setClipRect(area);
    linux_backend::QtCanvas canvas(painter);
    view.draw(canvas);
    painter.end();
    benchmark::DoNotOptimize(image.constBits());
  }
}

void BM_NapSceneBreathRepaint(benchmark::State& state) {
  repaint(state, false);
}
void BM_NapSceneFullRepaint(benchmark::State& state) {
  repaint(state, true);
}

BENCHMARK(BM_NapSceneBreathRepaint)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_NapSceneFullRepaint)->Unit(benchmark::kMicrosecond);

}  // namespace
