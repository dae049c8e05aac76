#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "linux/app/canberra_sound_player.h"
#include "linux/app/xdg_autostart.h"

namespace tovami::linux_backend {
namespace {

QString readAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void writeFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(bytes);
}

// A quoted path with a space; off removes the entry; a hidden entry is off; a failure says why.
TEST(XdgAutostart, RegistersUnregistersAndReportsWhyItCouldNot) {
  QTemporaryDir dir;
  XdgAutostart autostart(dir.filePath("autostart"), "/opt/My Apps/tovami");
  EXPECT_FALSE(autostart.isEnabled());
  EXPECT_EQ(autostart.setEnabled(true), std::nullopt);
  EXPECT_TRUE(autostart.isEnabled());
  const QString text = readAll(autostart.entryPath());
  for (const char* line :
       {"Exec=\"/opt/My Apps/tovami\"\n", "Type=Application", "X-GNOME-Autostart-enabled=true"})
    EXPECT_TRUE(text.contains(line)) << text.toStdString();
  EXPECT_EQ(autostart.setEnabled(false), std::nullopt);
  EXPECT_FALSE(QFile::exists(autostart.entryPath()));
  EXPECT_EQ(autostart.setEnabled(false), std::nullopt);  // already off

  XdgAutostart hidden(dir.path(), "/usr/bin/tovami");
  writeFile(hidden.entryPath(), "[Desktop Entry]\nType=Application\nExec=tovami\nHidden=true\n");
  EXPECT_FALSE(hidden.isEnabled());

  // A FIFO where the entry should be (nobody writes to it) must not hang the settings window.
  QFile::remove(hidden.entryPath());
  const QByteArray fifo = hidden.entryPath().toLocal8Bit();
  ASSERT_EQ(mkfifo(fifo.constData(), 0600), 0);
  auto answer = std::async(std::launch::async, [&hidden] { return hidden.isEnabled(); });
  const bool returned = answer.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  if (!returned) close(open(fifo.constData(), O_WRONLY | O_NONBLOCK));  // lets a blocked reader go
  EXPECT_TRUE(returned);
  EXPECT_FALSE(answer.get());

  writeFile(dir.filePath("blocker"), "");  // a file where the folder should be
  XdgAutostart blocked(dir.filePath("blocker"), "/usr/bin/tovami");
  auto error = blocked.setEnabled(true);
  ASSERT_TRUE(error.has_value());
  EXPECT_FALSE(error->empty());
  EXPECT_FALSE(blocked.isEnabled());
}

// A capture-only card or an unrelated runtime file is no output; a playback device or a server is.
TEST(CanberraSoundPlayer, FindsASoundOutputOnlyWhereOneCanPlay) {
  struct Case {
    const char* file;  // made in the temporary folder, relative to it
    bool pulseServer;
    bool expected;
  };
  for (const Case& c : {Case{nullptr, false, false}, Case{"snd/pcmC0D0c", false, false},
                        Case{"snd/controlC0", false, false}, Case{"run/bus", false, false},
                        Case{"snd/pcmC1D3p", false, true}, Case{"run/pulse/native", false, true},
                        Case{"run/pipewire-0", false, true}, Case{nullptr, true, true}}) {
    QTemporaryDir dir;
    if (c.file) {
      ASSERT_TRUE(QDir(dir.path()).mkpath(QFileInfo(dir.filePath(c.file)).path()));
      writeFile(dir.filePath(c.file), "");
    }
    SoundOutputPlaces places{dir.filePath("snd").toStdString(), dir.filePath("run").toStdString(),
                             c.pulseServer ? "tcp:sound.example" : ""};
    EXPECT_EQ(CanberraSoundPlayer::soundOutputExists(places), c.expected)
        << (c.file ? c.file : "PULSE_SERVER");
  }
}

TEST(CanberraSoundPlayer, WithoutAnyOutputStaysSilentAndLooksOnlyOnce) {
  int looks = 0;
  CanberraSoundPlayer player([&looks] {
    ++looks;
    return false;
  });
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(player.play("Glass", 1.0));
  EXPECT_EQ(looks, 1);
  EXPECT_FALSE(CanberraSoundPlayer().play("Sosumi", 0.5));  // an unknown sound is skipped
}

}  // namespace
}  // namespace tovami::linux_backend
