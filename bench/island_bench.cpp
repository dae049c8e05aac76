// What one repaint of the island costs: the whole expanded card with three agents and the usage
// meter, and the collapsed pill, at scale 2, beside a baseline from the same run: a bare QPainter
// that fills a rounded rectangle of the card's size and draws one line of text. A still island
// repaints nothing; a working agent's indicator repaints its corner every 0.4 s.
#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>

#include "bench_support.h"
#include "island/island_layout.h"
#include "island/island_still.h"
#include "island/notch_island_view.h"
#include "linux/qt/qt_canvas.h"
#include "platform/random.h"

namespace {

using namespace tovami;

// The 700-point panel at scale 2 (each repaint clears it first).
QImage panelImage() {
  QImage image(static_cast<int>(island_layout::kPanelWidth * 2), 1200, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(2);
  return image;
}

void repaintIsland(benchmark::State& state, IslandPhase phase) {
  bench::ensureApplication();
  bench::StillDispatcher dispatcher;
  NotchIslandView view(dispatcher.mainQueue(), systemRandomSource(), [] {});
  IslandScene scene = IslandStill::sampleScene(dispatcher.clock().now());
  scene.phase = phase;
  const OutlineGeometry geometry = outlineGeometry(scene, phase);
  QImage image = panelImage();
  for (auto _ : state) {
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    linux_backend::QtCanvas canvas(painter);
    view.draw(canvas, scene, geometry, phase == IslandPhase::expanded ? 1 : 0);
    painter.end();
    benchmark::DoNotOptimize(image.constBits());
  }
}

void BM_IslandExpandedRepaint(benchmark::State& state) { repaintIsland(state, IslandPhase::expanded); }
void BM_IslandCollapsedRepaint(benchmark::State& state) { repaintIsland(state, IslandPhase::collapsed); }

void BM_BareQtCardRepaint(benchmark::State& state) {
  bench::ensureApplication();
  QImage image = panelImage();
  for (auto _ : state) {
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::black);
    painter.drawRoundedRect(QRectF(20, 0, 660, 400), 24, 24);
    painter.setPen(Qt::white);
    painter.drawText(QPointF(60, 60), "demo-api \u00b7 working");
    painter.end();
    benchmark::DoNotOptimize(image.constBits());
  }
}

BENCHMARK(BM_IslandExpandedRepaint)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_IslandCollapsedRepaint)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareQtCardRepaint)->Unit(benchmark::kMicrosecond);

}  // namespace
