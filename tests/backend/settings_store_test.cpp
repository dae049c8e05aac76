#include "linux/app/settings_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>

#include "app/preference_keys.h"
#include "gui_application.h"
#include "support/virtual_dispatcher.h"

namespace tovami::linux_backend {
namespace {

struct ConfFolder {
  QTemporaryDir dir;
  testing::VirtualDispatcher dispatcher;
  QString path = dir.filePath("tovami/tovami.conf");
  ConfFolder() { QDir().mkpath(dir.filePath("tovami")); }
  void write(const QByteArray& bytes, const QString& to = {}) {
    QFile file(to.isEmpty() ? path : to);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
  }
  static QByteArray read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
  }
};

TEST(SettingsStore, HandEditedValuesReadAsMeantWritesKeepCommentsAndObserversRunOnTheirQueue) {
  ConfFolder folder;
  const QByteArray notes =
      "; my notes\n[General]\nagentKeepAwake=banana\nbatteryGuard=1\nislandShowsCat=YES\n";
  folder.write(notes + "\n[Other]\nkeep=me\n");
  SettingsStore store(folder.path, folder.dispatcher.mainQueue());
  EXPECT_TRUE(store.hasValue(prefs::kAgentKeepAwake));
  EXPECT_FALSE(store.boolValue(prefs::kAgentKeepAwake));  // present but not a boolean: false
  EXPECT_TRUE(store.boolValue(prefs::kBatteryGuard));
  EXPECT_TRUE(store.boolValue(prefs::kIslandShowsCat));
  EXPECT_FALSE(store.hasValue("keep"));  // another section's key
  std::vector<std::string> seen;
  int token = store.addObserver([&](std::string_view key) { seen.emplace_back(key); });
  store.setBool(prefs::kBatteryGuard, false);
  EXPECT_TRUE(seen.empty());
  folder.dispatcher.runUntilIdle();
  store.removeObserver(token);
  store.setBool(prefs::kUsageTracking, true);
  folder.dispatcher.runUntilIdle();
  EXPECT_EQ(seen, std::vector<std::string>{"batteryGuard"});
  EXPECT_EQ(ConfFolder::read(folder.path), QByteArray(notes).replace("batteryGuard=1", "batteryGuard=false") +
                                               "usageTracking=true\n\n[Other]\nkeep=me\n");
}

// No file gives the defaults. Strange or damaged files: the original is never lost, the wake
// requirement never weakens, and nothing hangs (a FIFO or a device would block a plain read).
TEST(SettingsStore, MissingDamagedOrStrangeFilesKeepTheOriginalAndFailClosed) {
  const QByteArray text = "[General]\nwakeRequirement=none\n";
  enum Kind { missing, malformed, unreadable };
  const struct {
    const char* name;
    QByteArray bytes;
    Kind kind;
    std::optional<std::string> wake;
  } rows[] = {
      {"no file", "", missing, std::nullopt},
      {"NUL in a value", QByteArray("agentKeepAwake=false\nwakeRequirement=no\0ne\n", 43), malformed, "auth"},
      {"invalid UTF-8 elsewhere", "wakeRequirement=none\nagentKeepAwake=f\xE4lse\n", malformed, "none"},
      {"a line that is no key=value", "[General\nwakeRequirement=none\n", malformed, "none"},
      {"larger than 1 MB", text + QByteArray(1 << 20, '#'), unreadable, "auth"},
      {"FIFO", "fifo", unreadable, "auth"},
      {"device", "device", unreadable, "auth"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ConfFolder folder;
    if (row.bytes == "fifo")
      ASSERT_EQ(mkfifo(folder.path.toLocal8Bit().constData(), 0600), 0);
    else if (row.bytes == "device")
      ASSERT_EQ(symlink("/dev/zero", folder.path.toLocal8Bit().constData()), 0);
    else if (row.kind != missing)
      folder.write(row.bytes);
    {
      SettingsStore store(folder.path, folder.dispatcher.mainQueue());
      EXPECT_EQ(store.isPersistent(), row.kind != unreadable);
      EXPECT_EQ(store.stringValue(prefs::kWakeRequirement), row.wake);
      store.setBool(prefs::kUsageTracking, true);
      EXPECT_TRUE(store.boolValue(prefs::kUsageTracking));
    }
    const QString backup = folder.path + ".malformed";
    EXPECT_EQ(ConfFolder::read(backup), row.kind == malformed ? row.bytes : QByteArray("<none>"));
    if (row.kind == unreadable) {
      const bool regular = QFileInfo(folder.path).isFile();  // never read the FIFO or the device
      EXPECT_EQ(regular ? ConfFolder::read(folder.path) : row.bytes, row.bytes);
      EXPECT_EQ(regular, row.bytes.size() > 10);
      continue;
    }
    QFile::remove(backup);
    SettingsStore reopened(folder.path, folder.dispatcher.mainQueue());  // written back clean
    EXPECT_EQ(reopened.stringValue(prefs::kWakeRequirement), row.wake);
    EXPECT_TRUE(reopened.boolValue(prefs::kUsageTracking));
    EXPECT_FALSE(QFile::exists(backup));
  }
}

// The file is the truth while Tovami runs: a hand edit is seen by the next read (the nap asks
// then), and a write from a switch changes only its own key, keeping the user's lines.
TEST(SettingsStore, HandEditsWhileRunningAreReadAndSurviveWrites) {
  const QByteArray before = "[General]\nwakeRequirement=none\nbatteryGuard=true\n";
  const QByteArray edited = "; mine\n[General]\nwakeRequirement=auth\nbatteryGuard=true\n";
  enum Edit { written, renamed, fifo, removed };
  const struct {
    const char* name;
    Edit edit;
    QByteArray bytes;  // what a written or renamed file holds
    std::optional<std::string> wake;
    QByteArray after;  // the file once a switch was written; empty: left as the edit made it
  } rows[] = {
      {"edited in place", written, edited, "auth", edited + "usageTracking=true\n"},
      {"saved by rename", renamed, edited, "auth", edited + "usageTracking=true\n"},
      {"damaged wake line", written, "[General]\nwakeRequirement=au\x01th\nbatteryGuard=true\n", "auth",
       "[General]\nbatteryGuard=true\nwakeRequirement=auth\nusageTracking=true\n"},
      {"wake line taken out", written, "[General]\nbatteryGuard=true\n", std::nullopt,
       "[General]\nbatteryGuard=true\nusageTracking=true\n"},
      {"replaced by a FIFO", fifo, "", "auth", ""},
      {"removed", removed, "", "none", before + "usageTracking=true\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ConfFolder folder;
    folder.write(before);
    SettingsStore store(folder.path, folder.dispatcher.mainQueue());
    store.setBool(prefs::kBatteryGuard, true);  // a write of Tovami's own first
    folder.dispatcher.runUntilIdle();
    std::vector<std::string> seen;
    store.addObserver([&](std::string_view key) { seen.emplace_back(key); });
    const QByteArray local = folder.path.toLocal8Bit();
    switch (row.edit) {
      case written:
        folder.write(row.bytes);
        break;
      case renamed:
        folder.write(row.bytes, folder.path + ".new");
        ASSERT_EQ(::rename((folder.path + ".new").toLocal8Bit().constData(), local.constData()), 0);
        break;
      case fifo:
        ASSERT_EQ(::unlink(local.constData()), 0);
        ASSERT_EQ(mkfifo(local.constData(), 0600), 0);
        break;
      case removed:
        ASSERT_EQ(::unlink(local.constData()), 0);
        break;
    }
    EXPECT_EQ(store.stringValue(prefs::kWakeRequirement), row.wake);
    EXPECT_EQ(wakeRequiresAuthentication(store), row.wake == "auth");
    store.setBool(prefs::kUsageTracking, true);
    EXPECT_EQ(store.stringValue(prefs::kWakeRequirement), row.wake);
    EXPECT_EQ(QFileInfo(folder.path).isFile(), row.edit != fifo);
    EXPECT_EQ(row.edit == fifo ? row.after : ConfFolder::read(folder.path), row.after);  // the FIFO untouched
    folder.dispatcher.runUntilIdle();
    // The edit's change is heard (where the wake changed at all), then the switch.
    const std::vector<std::string> heard{"wakeRequirement", "usageTracking"};
    EXPECT_EQ(seen, row.wake == "none" ? std::vector(heard.begin() + 1, heard.end()) : heard);
  }
}

// Where an event loop runs, a hand edit reaches the observers (the settings window) before
// anything reads the store.
TEST(SettingsStore, HandEditsReachObserversWithoutARead) {
  ensureGuiApplication();
  ConfFolder folder;
  folder.write("[General]\nwakeRequirement=none\n");
  SettingsStore store(folder.path, folder.dispatcher.mainQueue());
  std::vector<std::string> seen;
  store.addObserver([&](std::string_view key) { seen.emplace_back(key); });
  folder.write("[General]\nwakeRequirement=auth\n");
  for (int i = 0; i < 500 && seen.empty(); ++i) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    folder.dispatcher.runUntilIdle();
  }
  EXPECT_EQ(seen, std::vector<std::string>{"wakeRequirement"});
}

}  // namespace
}  // namespace tovami::linux_backend
