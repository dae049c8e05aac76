// The preferences store on Linux: an INI file in the XDG config folder
// ($XDG_CONFIG_HOME/tovami/tovami.conf), through QSettings. Safe to use from any thread.
#pragma once

#include <QSettings>
#include <QString>
#include <QVariant>
#include <map>
#include <memory>
#include <mutex>

#include "platform/preferences_store.h"
#include "platform/scheduler.h"

namespace tovami::linux_backend {

class SettingsStore final : public PreferenceStore {
 public:
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

  // Writes pending changes to disk.
  void flush();
  // False when the file could not be read and values live in memory for this run only.
  bool isPersistent() const { return settings_ != nullptr; }

 private:
  QVariant read(std::string_view key) const;
  void write(std::string_view key, const QVariant& value);
  void notify(std::string_view key);

  mutable std::mutex mutex_;
  std::unique_ptr<QSettings> settings_;
  std::map<QString, QVariant> memoryOnly_;
  TaskQueue& observerQueue_;
  std::shared_ptr<std::map<int, Observer>> observers_;
  int nextToken_ = 1;
};

}  // namespace tovami::linux_backend
