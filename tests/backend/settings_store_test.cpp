#include "linux/app/settings_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>

#include "app/preference_keys.h"
#include "support/virtual_dispatcher.h"

namespace tovami::linux_backend {
namespace {

QString writeFile(const QTemporaryDir& dir, const QByteArray& text) {
  const QString path = dir.filePath("tovami/tovami.conf");
  QDir().mkpath(dir.filePath("tovami"));
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(text);
  return path;
}

TEST(SettingsStore, RoundTripsAcrossInstances) {
  QTemporaryDir dir;
  testing::VirtualDispatcher dispatcher;
  const QString path = dir.filePath("tovami/tovami.conf");
  {
    SettingsStore store(path, dispatcher.mainQueue());
    EXPECT_FALSE(store.hasValue(prefs::kBatteryGuard));
    EXPECT_FALSE(store.boolValue(prefs::kBatteryGuard));
    EXPECT_EQ(store.stringValue(prefs::kWakeRequirement), std::nullopt);
    store.setBool(prefs::kBatteryGuard, true);
    store.setBool(prefs::kAgentWatchEnabled, false);
    store.setString(prefs::kWakeRequirement, "auth");
  }
  SettingsStore reopened(path, dispatcher.mainQueue());
  EXPECT_TRUE(reopened.isPersistent());
  EXPECT_TRUE(reopened.boolValue(prefs::kBatteryGuard));
  EXPECT_TRUE(reopened.hasValue(prefs::kAgentWatchEnabled));
  EXPECT_FALSE(reopened.boolValue(prefs::kAgentWatchEnabled));
  EXPECT_EQ(reopened.stringValue(prefs::kWakeRequirement), "auth");
}

TEST(SettingsStore, ObserversRunOnTheirQueueAfterAWrite) {
  QTemporaryDir dir;
  testing::VirtualDispatcher dispatcher;
  SettingsStore store(dir.filePath("p.conf"), dispatcher.mainQueue());
  std::vector<std::string> seen;
  int token = store.addObserver([&](std::string_view key) { seen.emplace_back(key); });
  store.setBool(prefs::kIslandShowsCat, false);
  EXPECT_TRUE(seen.empty());
  dispatcher.runUntilIdle();
  EXPECT_EQ(seen, std::vector<std::string>{"islandShowsCat"});
  store.removeObserver(token);
  store.setBool(prefs::kIslandShowsCat, true);
  dispatcher.runUntilIdle();
  EXPECT_EQ(seen.size(), 1u);
}

TEST(SettingsStore, HandEditedValuesReadAsTheyWereMeant) {
  QTemporaryDir dir;
  testing::VirtualDispatcher dispatcher;
  const QString path = writeFile(
      dir, "[General]\nagentKeepAwake=banana\nbatteryGuard=1\nislandShowsCat=YES\nwakeRequirement=auth\n");
  SettingsStore store(path, dispatcher.mainQueue());
  EXPECT_FALSE(store.boolValue(prefs::kAgentKeepAwake));  // present but not a boolean: false
  EXPECT_TRUE(store.hasValue(prefs::kAgentKeepAwake));
  EXPECT_TRUE(store.boolValue(prefs::kBatteryGuard));
  EXPECT_TRUE(store.boolValue(prefs::kIslandShowsCat));
  EXPECT_EQ(store.stringValue(prefs::kWakeRequirement), "auth");
}

TEST(SettingsStore, MalformedFileKeepsReadableValuesAndTheOriginal) {
  QTemporaryDir dir;
  testing::VirtualDispatcher dispatcher;
  const QByteArray original = "[General]\nagentKeepAwake=false\n\x01\x02 garbage line\n[unclosed\n";
  const QString path = writeFile(dir, original);
  {
    SettingsStore store(path, dispatcher.mainQueue());
    EXPECT_TRUE(store.hasValue(prefs::kAgentKeepAwake));
    EXPECT_FALSE(store.boolValue(prefs::kAgentKeepAwake));
    store.setBool(prefs::kUsageTracking, true);
  }
  QFile backup(path + ".malformed");
  ASSERT_TRUE(backup.open(QIODevice::ReadOnly));
  EXPECT_EQ(backup.readAll(), original);
  SettingsStore reopened(path, dispatcher.mainQueue());
  EXPECT_TRUE(reopened.hasValue(prefs::kAgentKeepAwake));
  EXPECT_TRUE(reopened.boolValue(prefs::kUsageTracking));
}

TEST(SettingsStore, UnreadableFileIsLeftUntouchedAndValuesLiveInMemory) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  QTemporaryDir dir;
  testing::VirtualDispatcher dispatcher;
  const QString path = writeFile(dir, "[General]\nagentKeepAwake=false\n");
  chmod(path.toLocal8Bit().constData(), 0);
  SettingsStore store(path, dispatcher.mainQueue());
  EXPECT_FALSE(store.isPersistent());
  store.setBool(prefs::kUsageTracking, true);
  EXPECT_TRUE(store.boolValue(prefs::kUsageTracking));
  chmod(path.toLocal8Bit().constData(), 0600);
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), QByteArray("[General]\nagentKeepAwake=false\n"));
}

}  // namespace
}  // namespace tovami::linux_backend
