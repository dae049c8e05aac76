// The preferences store on Linux: plain `key=value` text in the XDG config folder
// ($XDG_CONFIG_HOME/tovami/tovami.conf). Safe to use from any thread.
//
// A file that cannot be read (no permission, not a regular file, larger than 1 MB) is left
// untouched and values live in memory for the run. A malformed one (not plain UTF-8 `key=value`
// text) is kept as tovami.conf.malformed before anything is written, and its readable lines stay
// in use. Either way a key that guards the user (prefs::kFailClosed) whose value could not be read
// takes its safe value, with an error in the log. Comments and unknown lines survive writes.
#pragma once

#include <QString>
#include <map>
#include <memory>
#include <mutex>

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
  void load();
  void useSafeValuesForUnreadKeys();
  void save();  // with mutex_ held
  void write(std::string_view key, std::string_view value);
  void notify(std::string_view key);

  const QString path_;
  mutable std::mutex mutex_;
  PreferencesText text_;
  bool persistent_ = true;
  bool unsaved_ = false;
  TaskQueue& observerQueue_;
  std::shared_ptr<std::map<int, Observer>> observers_;
  int nextToken_ = 1;
};

}  // namespace tovami::linux_backend
