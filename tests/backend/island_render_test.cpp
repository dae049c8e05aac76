#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <vector>

#include "backend/gui_application.h"
#include "island/island_layout.h"
#include "island/island_still.h"
#include "linux/island/island_renderer.h"
#include "linux/island/island_window.h"
#include "linux/qt/qt_canvas.h"
#include "pixel_art/palette.h"
#include "pixel_art/pixel_figures.h"
#include "support/virtual_dispatcher.h"

namespace tovami::linux_backend {
namespace {

using tovami::testing::VirtualDispatcher;

// The picture's pixel at a point given in panel coordinates.
QColor pixelAt(const QImage& image, Point panelPoint) {
  const Point origin = IslandStill::panelOrigin();
  return image.pixelColor(static_cast<int>((origin.x + panelPoint.x) * IslandStill::kScale),
                          static_cast<int>((origin.y + panelPoint.y) * IslandStill::kScale));
}

bool near(const QColor& actual, Color expected, int tolerance = 3) {
  return std::abs(actual.red() - expected.red) <= tolerance &&
         std::abs(actual.green() - expected.green) <= tolerance &&
         std::abs(actual.blue() - expected.blue) <= tolerance;
}

TEST(IslandRender, DrawsThreeAgentRowsOnTheBackdrop) {
  ensureGuiApplication();
  VirtualDispatcher dispatcher;
  const QImage image = renderIslandImage(dispatcher).convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(image.size(), QSize(1320, 1120));
  EXPECT_TRUE(near(image.pixelColor(4, 1100), IslandStill::kBackdrop, 0));

  const IslandScene scene = IslandStill::sampleScene(dispatcher.clock().now());
  const Rect card = island_layout::cardFrame(scene, outlineGeometry(scene, IslandPhase::expanded));
  const auto rows = island_layout::agentRowFrames(scene, card);
  ASSERT_EQ(rows.size(), 3u);
  // Each row's cat, dot by dot: working blue for the working agent, dimmed white for the quiet ones.
  const Color colours[] = {palette::kWorkingBlue, {115, 115, 115}, {115, 115, 115}};
  for (size_t i = 0; i < rows.size(); ++i) {
    const PixelGrid cat{standingCatRows(), colours[i], 1.6, 0.6};
    int lit = 0;
    for (int r = 0; r < 7; ++r)
      for (int j = 0; j < 10; ++j) {
        const Rect cell = cat.cellRect(r, j);
        const Point centre{rows[i].x + island_layout::kRowContentInset + cell.x + cell.width / 2,
                           rows[i].y + 8 + cell.y + cell.height / 2};
        const bool on = standingCatRows()[r][j] == 'X';
        lit += on;
        EXPECT_TRUE(near(pixelAt(image, centre), on ? colours[i] : palette::kBlack))
            << i << ":" << r << "," << j;
      }
    EXPECT_GT(lit, 40);
  }
}

// Counts the repaints while the event loop runs for `ms`.
int paintsWithin(int& paints, int ms) {
  paints = 0;
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  return paints;
}

// The island's words are laid out without HarfBuzz; text whose look depends on shaping (marks,
// joined emoji, flags, other scripts, bidirectional controls) keeps it.
TEST(QtCanvasText, OnlyTextThatNeedsShapingIsShaped) {
  for (const char* plain : {"Working\u2026 3", "garden-planner \u00b7 Add frost dates",
                            "Ctrl+Alt+N \u2192 5m", "caf\u00e9 \u2014 \u201cquoted\u201d", ""}) {
    SCOPED_TRACE(plain);
    EXPECT_FALSE(QtCanvas::needsShaping(QString::fromUtf8(plain)));
    EXPECT_EQ(QtCanvas::toQFont(FontStyle{}, QString::fromUtf8(plain)).styleStrategy(),
              QFont::PreferNoShaping);
  }
  for (const char* shaped :
       {"cafe\u0301", "\U0001F469\u200D\U0001F4BB", "\U0001F1EB\U0001F1F7", "\u0645\u0631\u062D\u0628\u0627",
        "\u0928\u092E\u0938\u094D\u0924\u0947", "a\u200Db", "\u2067x\u2069", "\u4F60\u597D"}) {
    SCOPED_TRACE(shaped);
    EXPECT_TRUE(QtCanvas::needsShaping(QString::fromUtf8(shaped)));
    EXPECT_EQ(QtCanvas::toQFont(FontStyle{}, QString::fromUtf8(shaped)).styleStrategy(),
              QFont::PreferDefault);
  }
}

// The built-in face stands where the system's monospaced face would, at the same width, in the
// island's pill scale and on a doubled display; a text it does not cover is the system's.
TEST(QtCanvasText, TheBuiltInFaceStandsWhereTheSystemFaceWould) {
  ensureGuiApplication();
  const auto inkBox = [](const FontStyle& font, double scale) {
    QImage image(240, 60, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
      QPainter painter(&image);
      QtCanvas canvas(painter);
      canvas.scale(scale);
      canvas.drawText("Working\u2026 3", {10, 10}, font, palette::kWhite);
    }
    QRect box;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        if (qAlpha(image.pixel(x, y)) > 96) box |= QRect(x, y, 1, 1);
    return box;
  };
  FontStyle system{.pointSize = 10, .monospaced = true, .weight = FontWeight::medium};
  FontStyle builtIn = system;
  builtIn.builtIn = true;
  for (const double scale : {0.85, 1.0, 2.0}) {
    SCOPED_TRACE(scale);
    const QRect expected = inkBox(system, scale), drawn = inkBox(builtIn, scale);
    ASSERT_FALSE(expected.isEmpty());
    EXPECT_NEAR(drawn.left(), expected.left(), 1);
    EXPECT_NEAR(drawn.right(), expected.right(), 1.5 * scale);
    EXPECT_NEAR(drawn.top(), expected.top(), 1);
    EXPECT_NEAR(drawn.bottom(), expected.bottom(), 1);
  }
  QImage image(10, 10, QImage::Format_ARGB32_Premultiplied);
  QPainter painter(&image);
  QtCanvas canvas(painter);
  EXPECT_NEAR(canvas.measureText("idle 42", builtIn).width, canvas.measureText("idle 42", system).width,
              0.05);
  EXPECT_EQ(canvas.measureText("Idle", builtIn).width, canvas.measureText("Idle", system).width);
}

TEST(IslandWindow, RepaintsOnlyWhileAnimatingOrWhenAsked) {
  ensureGuiApplication();
  IslandWindow window;
  int paints = 0;
  window.setPaintCallback([&paints](QPainter&) { ++paints; });
  window.setFrame({290, 0, 700, 560});
  window.orderFront(true);
  window.setAnimating(true);
  EXPECT_GE(paintsWithin(paints, 200), 5);
  window.setAnimating(false);
  paintsWithin(paints, 50);
  EXPECT_EQ(paintsWithin(paints, 200), 0);  // a still island costs nothing
  window.scheduleRedraw(0.05);
  EXPECT_EQ(paintsWithin(paints, 200), 1);
  window.orderOut();
  window.setAnimating(true);  // hidden: still no timer
  EXPECT_EQ(paintsWithin(paints, 100), 0);
  EXPECT_FALSE(window.isShown());
}

}  // namespace
}  // namespace tovami::linux_backend
