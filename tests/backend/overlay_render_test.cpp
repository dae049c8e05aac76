#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "linux/nap/desktop_motion_settings.h"
#include "linux/nap/overlay_renderer.h"

namespace tovami::linux_backend {
namespace {

// The still shows the nap scene as drawn on screen, where test_nap_scene.py looks at the cat and the hint; its
// size and its failures (a missing folder, a read-only file, a full device, a folder) are test_render_overlay.py's.
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
