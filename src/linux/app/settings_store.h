// The preferences store on Linux: plain `key=value` text in the XDG config folder
// ($XDG_CONFIG_HOME/tovami/tovami.conf). Safe to use from any thread.
//
// The file stays the truth while Tovami runs: a read first re-reads it when it changed (so a
// nap asks for the password the user has just put in by hand), and a write re-reads it and
// changes only its own key, so hand edits and comments made meanwhile survive. Observers hear of
// the keys a hand edit changed: at once where an event loop runs (the folder is watched), else
// once a read has noticed it. A file that disappears keeps the last values it held.
//
// A file that cannot be read (no permission, not a regular file, larger than 1 MB) is left
// untouched and values live in memory for the run. A malformed one (not plain UTF-8 `key=value`
// text) is kept as tovami.conf.malformed before anything is written, and its readable lines stay
// in use. Either way a key that guards the user (prefs::kFailClosed) whose value could not be read
// takes its safe value, with an error in the log. Comments and unknown lines survive writes.
#pragma once

#include <sys/types.h>

#include <QFileSystemWatcher>
#include <QString>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/preferences_text.h"
#include "platform/preferences_store.h"
#include "platform/scheduler.h"

namespace tovami::linux_backend {

class SettingsStore final : public PreferenceStore {
 public:
  static constexpr long long kMaxFileSize = 1 << 20;

  // `observerQueue` is where observers run (the main queue).
  SettingsStore(const QString& filePath, TaskQueue& observerQueue);
  ~SettingsStore() override;

  // The default location under the XDG config folder.
  static QString defaultFilePath();

  bool hasValue(std::string_view key) const override;
  bool boolValue(std::string_view key) const override;
  std::optional<std::string> stringValue(std::string_view key) const override;
  void setBool(std::string_view key, bool value) override;
  void setString(std::string_view key, std::string_view value) override;
  int addObserver(Observer observer) override;
  void removeObserver(int token) override;

  // Retries a write that failed (each change is written at once).
  void flush();
  // False when the file could not be read and values live in memory for this run only.
  bool isPersistent() const { return persistent_; }

 private:
  // What identifies one state of the file: a change to it changes one of these.
  struct Stamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{}, changed{};
    bool operator==(const Stamp& other) const;
  };
  using Keys = std::vector<std::string>;

  // With mutex_ held. Re-reads the file when it changed since the last look; returns the keys
  // whose values changed.
  Keys refresh() const;
  Keys load(const Stamp& stamp) const;
  void useSafeValuesForUnreadKeys(bool evenWhenRead) const;
  void save();
  void write(std::string_view key, std::string_view value);
  void notify(const Keys& keys) const;
  // Main thread: watches the file and its folder (a save by rename replaces the file).
  void follow();

  const QString path_;
  mutable std::mutex mutex_;
  // The file as last read, and what of it is in use; reads refresh them, hence mutable.
  mutable PreferencesText text_;
  mutable std::optional<Stamp> stamp_;
  mutable std::optional<std::string> bytes_;  // absent while unreadable or missing
  mutable timespec readAt_{};                 // wall-clock time of the last read
  mutable bool persistent_ = true;
  // Changes the file does not hold yet (a write failed), put back over each re-read.
  std::map<std::string, std::string, std::less<>> unsaved_;
  TaskQueue& observerQueue_;
  std::shared_ptr<std::map<int, Observer>> observers_;
  int nextToken_ = 1;
  std::unique_ptr<QFileSystemWatcher> watcher_;  // only where a Qt application runs
};

}  // namespace tovami::linux_backend
