#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <cmath>

#include "island/palette.h"
#include "nap/nap_overlay_view.h"
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

// White at `opacity` over the backdrop.
QColor whiteOver(double opacity) {
  auto blend = [&](int channel) {
    return static_cast<int>(std::lround(channel + (255 - channel) * opacity));
  };
  const Color b = OverlayStill::kBackdrop;
  return QColor(blend(b.red), blend(b.green), blend(b.blue));
}

void expectNear(const QColor& actual, const QColor& expected, int tolerance, const char* what) {
  EXPECT_NEAR(actual.red(), expected.red(), tolerance) << what;
  EXPECT_NEAR(actual.green(), expected.green(), tolerance) << what;
  EXPECT_NEAR(actual.blue(), expected.blue(), tolerance) << what;
}

// Calls `check(cellSquare, row, column)` for every lit cell of `grid` drawn at `origin`.
template <typename Fn>
void forEachLitCell(const PixelGrid& grid, Point origin, Fn check) {
  for (int r = 0; r < static_cast<int>(grid.rows.size()); ++r)
    for (int j = 0; j < static_cast<int>(grid.rows[r].size()); ++j)
      if (grid.rows[r][j] == 'X') {
        Rect cell = grid.cellRect(r, j);
        check(Rect{origin.x + cell.x, origin.y + cell.y, cell.width, cell.height}, r, j);
      }
}

TEST(OverlayRender, DrawsTheSleepingCatTheDistantCatsAndTheWordmarkWhereTheLayoutPutsThem) {
  VirtualDispatcher dispatcher;
  const QImage image = renderOverlayImage(dispatcher).convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(image.width(), 1600);
  ASSERT_EQ(image.height(), 840);

  const NapColumnLayout layout = NapColumnLayout::centredIn(OverlayStill::kSize);
  const PixelCatScene scene(dispatcher, nullptr, true, nullptr);
  const Point sceneOrigin{layout.scene.x, layout.scene.y};

  // The cat, asleep (frame A), in terracotta.
  const Rect cat = scene.catRect();
  const PixelGrid catGrid{PixelCatScene::sleepA(), palette::kTerracotta, PixelCatScene::kCatDot,
                          PixelCatScene::kCatGap};
  int catCells = 0;
  forEachLitCell(catGrid, {sceneOrigin.x + cat.x, sceneOrigin.y + cat.y}, [&](const Rect& square, int, int) {
    EXPECT_EQ(centreOf(image, square), QColor(217, 119, 87));
    ++catCells;
  });
  EXPECT_EQ(catCells, 66);
  // Its empty top corners stay dark.
  EXPECT_NE(centreOf(image, {sceneOrigin.x + cat.x, sceneOrigin.y + cat.y, 5, 5}), QColor(217, 119, 87));

  // The distant cats in faint white: 28 % on the left, 16 % on the right.
  const Rect left = PixelCatScene::leftDistantCatRect();
  forEachLitCell(PixelGrid{PixelCatScene::sleepA(), {}, 2.6, 0.9},
                 {sceneOrigin.x + left.x, sceneOrigin.y + left.y}, [&](const Rect& square, int, int) {
                   expectNear(centreOf(image, square), whiteOver(0.28), 2, "left cat");
                 });
  const Rect right = PixelCatScene::rightDistantCatRect();
  forEachLitCell(PixelGrid{PixelCatScene::sleepB(), {}, 2.2, 0.8},
                 {sceneOrigin.x + right.x, sceneOrigin.y + right.y}, [&](const Rect& square, int, int) {
                   expectNear(centreOf(image, square), whiteOver(0.16), 2, "right cat");
                 });

  // The wordmark: white at 85 %, each dot shaded by its position.
  const PixelWordmarkView mark = NapColumnLayout::wordmarkView();
  const PixelGrid markGrid = mark.grid();
  int markCells = 0;
  forEachLitCell(markGrid, {layout.wordmark.x, layout.wordmark.y}, [&](const Rect& square, int r, int j) {
    expectNear(centreOf(image, square), whiteOver(0.85 * shadedOpacity(r, j)), 2, "wordmark");
    ++markCells;
  });
  EXPECT_GT(markCells, 50);

  // No marks beside the cat and no hint: below the wordmark and right of the cat, only backdrop.
  const QColor backdrop(23, 20, 19);
  for (int y = static_cast<int>(layout.wordmark.maxY() * 2) + 4; y < 840; y += 3)
    for (int x = 0; x < 1600; x += 3) ASSERT_EQ(image.pixelColor(x, y), backdrop) << x << "," << y;
  for (int i = 0; i < 3; ++i) {
    const Rect markArea = scene.markRect(i);
    EXPECT_EQ(centreOf(image, {sceneOrigin.x + markArea.x, sceneOrigin.y + markArea.y, markArea.width,
                               markArea.height}),
              backdrop);
  }
}

class FileWriteTest : public ::testing::Test {
 protected:
  std::string path(const char* name) const { return dir.filePath(name).toStdString(); }
  QStringList entries() const {
    return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
  }
  QTemporaryDir dir;
};

TEST_F(FileWriteTest, ReplacesWholeFilesAndLeavesNothingBehind) {
  const std::string target = path("still.png");
  ASSERT_TRUE(writeFileCompletely(target, "first"));
  ASSERT_TRUE(writeFileCompletely(target, "second"));
  QFile file(QString::fromStdString(target));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), "second");
  EXPECT_EQ(entries(), QStringList{"still.png"});

  // Through a link, the file it names is replaced and the link stays.
  ASSERT_EQ(::symlink(target.c_str(), path("link.png").c_str()), 0);
  ASSERT_TRUE(writeFileCompletely(path("link.png"), "third"));
  struct stat info = {};
  ASSERT_EQ(::lstat(path("link.png").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  file.close();
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), "third");
}

TEST_F(FileWriteTest, FailsWithoutTouchingAnythingItCannotWrite) {
  EXPECT_FALSE(writeFileCompletely(path("missing/still.png"), "x"));
  EXPECT_FALSE(writeFileCompletely(dir.path().toStdString(), "x"));
  EXPECT_FALSE(writeFileCompletely("", "x"));

  const std::string locked = path("locked.png");
  ASSERT_TRUE(writeFileCompletely(locked, "kept"));
  ASSERT_EQ(::chmod(locked.c_str(), 0444), 0);
  EXPECT_FALSE(writeFileCompletely(locked, "lost"));
  QFile file(QString::fromStdString(locked));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), "kept");

  if (QFile::exists("/dev/full")) {
    EXPECT_FALSE(writeFileCompletely("/dev/full", QByteArray(100000, 'x')));
    EXPECT_TRUE(QFile::exists("/dev/full"));
  }
  EXPECT_EQ(entries(), QStringList{"locked.png"});
}

}  // namespace
}  // namespace tovami::linux_backend
