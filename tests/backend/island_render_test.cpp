#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <vector>

#include "backend/gui_application.h"
#include "island/island_layout.h"
#include "island/island_still.h"
#include "linux/island/island_renderer.h"
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

}  // namespace
}  // namespace tovami::linux_backend
