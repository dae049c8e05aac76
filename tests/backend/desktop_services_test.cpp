#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <future>
#include <map>
#include <string>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "linux/app/canberra_sound_player.h"
#include "linux/app/journal_log_sink.h"
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
  EXPECT_FALSE(blocked.setEnabled(true).value_or("").empty());  // an error, and its words
  EXPECT_FALSE(blocked.isEnabled());
}

// A capture-only card or an unrelated runtime file is no output; a playback device or a server is.
TEST(CanberraSoundPlayer, FindsASoundOutputOnlyWhereOneCanPlay) {
  struct Case { const char* file; bool pulseServer, expected; };  // the file relative to a temporary folder
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
  CanberraSoundPlayer player([&looks] { return ++looks, false; });
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(player.play("Glass", 1.0));
  EXPECT_EQ(looks, 1);
  EXPECT_FALSE(CanberraSoundPlayer().play("Sosumi", 0.5));  // an unknown sound is skipped
}

// journald's native protocol: NAME=value lines, and a value holding a newline as its name, a newline, its
// length (64-bit little endian) and the bytes.
std::map<std::string, std::string> journalFields(const std::string& entry) {
  std::map<std::string, std::string> fields;
  for (size_t at = 0, end; (end = entry.find('\n', at)) != std::string::npos;) {
    const std::string line = entry.substr(at, end - at);
    if (const size_t equals = line.find('='); equals != std::string::npos) {
      fields[line.substr(0, equals)] = line.substr(equals + 1);
      at = end + 1;
      continue;
    }
    uint64_t length = 0;
    for (int i = 7; i >= 0; --i) length = (length << 8) | static_cast<unsigned char>(entry.at(end + 1 + i));
    fields[line] = entry.substr(end + 9, length);
    at = end + 9 + length + 1;
  }
  return fields;
}

// The next entry at `socket`: the datagram, or the memory file a large entry travels in.
std::string receiveEntry(int socket) {
  std::string data(64 * 1024, '\0');
  iovec vector{data.data(), data.size()};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr message{.msg_iov = &vector, .msg_iovlen = 1, .msg_control = control, .msg_controllen = sizeof control};
  const ssize_t size = recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
  if (size < 0) return {};
  data.resize(size_t(size));
  if (cmsghdr* header = CMSG_FIRSTHDR(&message); header && header->cmsg_type == SCM_RIGHTS) {
    int fd = -1;
    std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
    data.clear();
    char buffer[65536];
    for (ssize_t n; (n = pread(fd, buffer, sizeof buffer, off_t(data.size()))) > 0;) data.append(buffer, size_t(n));
    close(fd);
  }
  return data;
}

// An entry carries the fields the journal is searched by; a line with newlines keeps them; one
// larger than a datagram arrives whole; no journal socket means standard error.
TEST(JournalLogSink, SendsTheFieldsJournaldReads) {
  QTemporaryDir dir;
  const std::string path = dir.filePath("socket").toStdString();
  const int journal = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, path.c_str());
  ASSERT_EQ(bind(journal, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

  JournalLogSink sink(path);
  ASSERT_TRUE(sink.usesJournal());
  sink.write(LogLevel::error, "nap", "the cover\nwent up");
  auto fields = journalFields(receiveEntry(journal));
  for (const auto& [name, value] : std::map<std::string, std::string>{
           {"MESSAGE", "the cover\nwent up"}, {"PRIORITY", "3"}, {"SYSLOG_IDENTIFIER", "tovami"},
           {"TOVAMI_SUBSYSTEM", kLogSubsystem}, {"TOVAMI_CATEGORY", "nap"}, {"CODE_FUNC", "write"}})
    EXPECT_EQ(fields[name], value) << name;

  // Larger than any send buffer the sink can get (it asks for 8 MiB, which the kernel doubles).
  const std::string large(17 * 1024 * 1024, 'x');
  sink.write(LogLevel::info, "app", large);
  fields = journalFields(receiveEntry(journal));
  EXPECT_EQ(fields["MESSAGE"].size(), large.size());
  EXPECT_EQ(fields["PRIORITY"], "6");
  close(journal);

  EXPECT_FALSE(JournalLogSink(dir.filePath("none").toStdString()).usesJournal());
}

}  // namespace
}  // namespace tovami::linux_backend
