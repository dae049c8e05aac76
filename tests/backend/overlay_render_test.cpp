#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <cmath>
#include <utility>

#include "nap/nap_overlay_view.h"
#include "linux/nap/desktop_motion_settings.h"
#include "linux/nap/overlay_renderer.h"
#include "support/virtual_dispatcher.h"

namespace tovami::linux_backend {
namespace {

using tovami::testing::VirtualDispatcher;

// The image's pixel at the centre of a square given in points.
QColor centreOf(const QImage& image, const Rect& square) {
  const double scale = OverlayStill::kScale;
  return image.pixelColor(static_cast<int>((square.x + square.width / 2) * scale),
                          static_cast<int>((square.y + square.height / 2) * scale));
}

// How far `actual` is from white at `opacity` over the backdrop, in the worst channel.
int offWhiteOver(const QColor& actual, double opacity) {
  const Color b = OverlayStill::kBackdrop;
  int worst = 0;
  for (auto [got, under] : {std::pair{actual.red(), b.red}, {actual.green(), b.green}, {actual.blue(), b.blue}})
    worst = std::max(worst, std::abs(got - int(std::lround(under + (255 - under) * opacity))));
  return worst;
}

// Calls `check(cellSquare, row, column)` for every lit cell of `grid` drawn at `origin`; returns the count.
template <typename Fn>
int forEachLitCell(const PixelGrid& grid, Point origin, Fn check) {
  int count = 0;
  for (int r = 0; r < static_cast<int>(grid.rows.size()); ++r)
    for (int j = 0; j < static_cast<int>(grid.rows[r].size()); ++j)
      if (grid.rows[r][j] == 'X' && ++count) {
        Rect cell = grid.cellRect(r, j);
        check(Rect{origin.x + cell.x, origin.y + cell.y, cell.width, cell.height}, r, j);
      }
  return count;
}

TEST(OverlayRender, DrawsTheSleepingCatTheDistantCatsAndTheWordmarkWhereTheLayoutPutsThem) {
  VirtualDispatcher dispatcher;
  const QImage image = renderOverlayImage(dispatcher).convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(image.size(), QSize(1600, 840));
  const NapColumnLayout layout = NapColumnLayout::centredIn(OverlayStill::kSize);
  const PixelCatScene scene(dispatcher, nullptr, true, nullptr);
  auto in = [&](Rect r) { return Point{layout.scene.x + r.x, layout.scene.y + r.y}; };

  // The cat, asleep (frame A), in terracotta.
  const PixelGrid catGrid{PixelCatScene::sleepA(), {}, PixelCatScene::kCatDot, PixelCatScene::kCatGap};
  const auto terracotta = [&](const Rect& square, int, int) {
    EXPECT_EQ(centreOf(image, square), QColor(217, 119, 87));
  };
  EXPECT_GT(forEachLitCell(catGrid, in(scene.catRect()), terracotta), 50);

  // The wordmark: white at 85 %, each dot shaded by its position.
  const auto shadedWhite = [&](const Rect& square, int r, int j) {
    EXPECT_LE(offWhiteOver(centreOf(image, square), 0.85 * shadedOpacity(r, j)), 2);
  };
  const Point wordmarkAt{layout.wordmark.x, layout.wordmark.y};
  EXPECT_GT(forEachLitCell(NapColumnLayout::wordmarkView().grid(), wordmarkAt, shadedWhite), 50);

  // No marks beside the cat and no hint: below the wordmark and right of the cat, only backdrop.
  const QColor backdrop(23, 20, 19);
  for (int y = static_cast<int>(layout.wordmark.maxY() * 2) + 4; y < 840; y += 3)
    for (int x = 0; x < 1600; x += 3) ASSERT_EQ(image.pixelColor(x, y), backdrop) << x << "," << y;
  for (int i = 0; i < 3; ++i) {
    const Rect mark = scene.markRect(i);
    EXPECT_EQ(centreOf(image, {in(mark).x, in(mark).y, mark.width, mark.height}), backdrop);
  }
}

// Failures (a missing folder, a read-only file, a full device, a folder) are run through the
// program in test_render_overlay.py.
TEST(FileWrite, ReplacesWholeFilesThroughLinksAndLeavesNothingBehind) {
  QTemporaryDir dir;
  auto path = [&](const char* name) { return dir.filePath(name).toStdString(); };
  const std::string target = path("still.png");
  ASSERT_TRUE(writeFileCompletely(target, "first"));
  ASSERT_TRUE(writeFileCompletely(target, "second"));
  auto contents = [&] {
    QFile file(QString::fromStdString(target));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  };
  EXPECT_EQ(contents(), "second");
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"still.png"});

  // Through a link, the file it names is replaced and the link stays.
  ASSERT_EQ(::symlink(target.c_str(), path("link.png").c_str()), 0);
  ASSERT_TRUE(writeFileCompletely(path("link.png"), "third"));
  struct stat info = {};
  ASSERT_EQ(::lstat(path("link.png").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  EXPECT_EQ(contents(), "third");
}

TEST(DesktopMotionSettings, ReadsTheAnimationSwitchHoweverDeeplyThePortalWrapsItAndFromGsettings) {
  using S = DesktopMotionSettings;
  auto wrapped = [](QVariant value) { return QVariant::fromValue(QDBusVariant(value)); };
  EXPECT_EQ(S::animationsFromPortalReply(wrapped(wrapped(true))), true);
  EXPECT_EQ(S::animationsFromPortalReply(wrapped(QString("false"))), std::nullopt);
  for (const auto& [output, value] : std::vector<std::pair<QByteArray, std::optional<bool>>>{
           {"false\n", false}, {"true\n", true}, {"No such schema\n", std::nullopt}, {"", std::nullopt}})
    EXPECT_EQ(S::animationsFromGsettingsOutput(output), value) << output.constData();
}

}  // namespace
}  // namespace tovami::linux_backend
