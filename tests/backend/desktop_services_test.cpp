#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>

#include "linux/app/canberra_sound_player.h"
#include "linux/app/xdg_autostart.h"

namespace tovami::linux_backend {
namespace {

QString readAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

TEST(XdgAutostart, RegistersAndUnregistersAnEntry) {
  QTemporaryDir dir;
  XdgAutostart autostart(dir.filePath("autostart"), "/opt/My Apps/tovami");
  EXPECT_FALSE(autostart.isEnabled());
  EXPECT_EQ(autostart.setEnabled(true), std::nullopt);
  EXPECT_TRUE(autostart.isEnabled());
  const QString text = readAll(autostart.entryPath());
  EXPECT_TRUE(text.contains("Exec=\"/opt/My Apps/tovami\"\n")) << text.toStdString();
  EXPECT_TRUE(text.contains("Type=Application"));
  EXPECT_TRUE(text.contains("X-GNOME-Autostart-enabled=true"));
  EXPECT_EQ(autostart.setEnabled(false), std::nullopt);
  EXPECT_FALSE(autostart.isEnabled());
  EXPECT_FALSE(QFile::exists(autostart.entryPath()));
  EXPECT_EQ(autostart.setEnabled(false), std::nullopt);  // already off
}

TEST(XdgAutostart, HiddenOrDisabledEntriesCountAsOff) {
  QTemporaryDir dir;
  XdgAutostart autostart(dir.path(), "/usr/bin/tovami");
  QFile file(autostart.entryPath());
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("[Desktop Entry]\nType=Application\nExec=tovami\nHidden=true\n");
  file.close();
  EXPECT_FALSE(autostart.isEnabled());
}

TEST(XdgAutostart, ReportsWhyItCouldNotRegister) {
  QTemporaryDir dir;
  QFile blocker(dir.filePath("autostart"));  // a file where the folder should be
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  XdgAutostart autostart(dir.filePath("autostart"), "/usr/bin/tovami");
  auto error = autostart.setEnabled(true);
  ASSERT_TRUE(error.has_value());
  EXPECT_FALSE(error->empty());
  EXPECT_FALSE(autostart.isEnabled());
}

TEST(CanberraSoundPlayer, MapsTheCuesToThemeSoundsAndVolumes) {
  EXPECT_EQ(CanberraSoundPlayer::themeEventFor("Glass"), "complete");
  EXPECT_EQ(CanberraSoundPlayer::themeEventFor("Ping"), "message-new-instant");
  EXPECT_EQ(CanberraSoundPlayer::themeEventFor("Purr"), "service-login");
  EXPECT_EQ(CanberraSoundPlayer::themeEventFor("Sosumi"), "");
  EXPECT_EQ(CanberraSoundPlayer::volumeInDecibels(1.0), "0.00");
  EXPECT_EQ(CanberraSoundPlayer::volumeInDecibels(0.35), "-9.12");
  CanberraSoundPlayer player;
  EXPECT_FALSE(player.play("Sosumi", 0.5));  // unknown sounds are skipped
}

}  // namespace
}  // namespace tovami::linux_backend
