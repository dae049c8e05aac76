#include "linux/app/settings_store.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/preference_keys.h"
#include "linux/files/regular_file.h"
#include "platform/log.h"

namespace tovami::linux_backend {
namespace {

bool writeAtomically(const QString& path, const std::string& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QSaveFile file(path);
  return file.open(QIODevice::WriteOnly) &&
         file.write(bytes.data(), qint64(bytes.size())) == qint64(bytes.size()) && file.commit();
}

// Booleans read as the platform's own defaults do: true, yes and non-zero numbers are true;
// anything else stored under the key is false.
bool textToBool(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  if (text == "true" || text == "yes") return true;
  char* end = nullptr;
  const double number = std::strtod(text.c_str(), &end);
  return !text.empty() && end && *end == '\0' && number != 0;
}

}  // namespace

QString SettingsStore::defaultFilePath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/tovami/tovami.conf";
}

bool SettingsStore::Stamp::operator==(const Stamp& o) const {
  const auto same = [](const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
  };
  return device == o.device && inode == o.inode && size == o.size && same(modified, o.modified) &&
         same(changed, o.changed);
}

SettingsStore::SettingsStore(const QString& filePath, TaskQueue& observerQueue)
    : path_(filePath),
      observerQueue_(observerQueue),
      observers_(std::make_shared<std::map<int, Observer>>()) {
  {
    std::lock_guard lock(mutex_);
    refresh();
  }
  if (!QCoreApplication::instance()) return;
  watcher_ = std::make_unique<QFileSystemWatcher>();
  const auto recheck = [this] {
    Keys changed;
    {
      std::lock_guard lock(mutex_);
      changed = refresh();
    }
    notify(changed);
    follow();
  };
  QObject::connect(watcher_.get(), &QFileSystemWatcher::fileChanged, recheck);
  QObject::connect(watcher_.get(), &QFileSystemWatcher::directoryChanged, recheck);
  follow();
}

void SettingsStore::follow() {
  for (const QString& path : {QFileInfo(path_).absolutePath(), path_})
    if (QFileInfo::exists(path) && !watcher_->files().contains(path) &&
        !watcher_->directories().contains(path))
      watcher_->addPath(path);
}

SettingsStore::~SettingsStore() {
  flush();
}

SettingsStore::Keys SettingsStore::refresh() const {
  struct stat info {};
  if (stat(path_.toLocal8Bit().constData(), &info) != 0 && errno == ENOENT) {
    if (stamp_)
      logInfo(log_categories::kApp, "preferences: " + path_.toStdString() +
                                        " was removed; keeping its last values until the next change");
    stamp_.reset();
    bytes_.reset();
    return {};
  }
  const Stamp stamp{info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
  // File times advance in coarse ticks: a change made within a second of the last read may
  // leave the stamp as it was, so the file is read again until it has been still that long.
  const bool settled = readAt_.tv_sec > stamp.modified.tv_sec + 1;
  if (stamp_ && *stamp_ == stamp && (settled || !bytes_)) return {};
  return load(stamp);
}

SettingsStore::Keys SettingsStore::load(const Stamp& stamp) const {
  const std::string path = path_.toStdString();
  std::string bytes, why;
  const FileRead result = readRegularFile(path, size_t(kMaxFileSize), bytes, why);
  clock_gettime(CLOCK_REALTIME, &readAt_);
  stamp_ = stamp;
  if (result == FileRead::read && bytes_ == bytes) return {};  // read again, unchanged
  const auto before = text_.values();
  const bool first = !bytes_ && text_.values().empty();
  switch (result) {
    case FileRead::missing:  // removed between the look and the read
      stamp_.reset();
      return {};
    case FileRead::unreadable:
      bytes_.reset();
      persistent_ = false;
      logError(log_categories::kApp,
               "preferences: cannot read " + path + " (" + why +
                   "); using the values in memory for this run and leaving the file untouched");
      // What the file now holds is unknown: keys that guard the user take their safe values.
      useSafeValuesForUnreadKeys(true);
      break;
    case FileRead::read:
      bytes_ = bytes;
      persistent_ = true;
      text_ = PreferencesText(bytes);
      for (const auto& [key, value] : unsaved_) text_.set(key, value);
      if (text_.damagedLines() == 0) break;
      // Keep the original beside the file before anything rewrites it; the readable lines stay in use.
      if (const QString backup = path_ + ".malformed"; writeAtomically(backup, bytes)) {
        logError(log_categories::kApp, "preferences: " + path +
                                           " is malformed (lines that are not plain UTF-8 "
                                           "key=value text: " +
                                           std::to_string(text_.damagedLines()) +
                                           "); using the lines that could be read (original kept as " +
                                           backup.toStdString() + ")");
      } else {
        persistent_ = false;
        logError(log_categories::kApp,
                 "preferences: " + path +
                     " is malformed and no copy of it could be kept; "
                     "using the lines that could be read for this run, leaving the file untouched");
      }
      useSafeValuesForUnreadKeys(false);
      break;
  }
  Keys changed;
  if (first) return changed;
  for (const auto& [key, value] : text_.values())
    if (const auto old = before.find(key); old == before.end() || old->second != value)
      changed.push_back(key);
  for (const auto& [key, value] : before)
    if (!text_.values().count(key)) changed.push_back(key);
  for (const auto& [key, safe] : prefs::kFailClosed) {
    if (std::find(changed.begin(), changed.end(), key) == changed.end()) continue;
    const auto now = text_.values().find(key);
    logInfo(log_categories::kApp, "preferences: " + std::string(key) + " was changed in the file; now " +
                                      (now == text_.values().end() ? "unset" : "\"" + now->second + "\""));
  }
  return changed;
}

void SettingsStore::useSafeValuesForUnreadKeys(bool evenWhenRead) const {
  for (const auto& [key, safe] : prefs::kFailClosed) {
    if (!evenWhenRead && text_.values().count(key)) continue;
    text_.set(key, safe);
    logError(log_categories::kApp, "preferences: " + std::string(key) + " could not be read; using \"" +
                                       std::string(safe) + "\" until it is chosen again");
  }
}

void SettingsStore::save() {
  if (!persistent_) return;
  const std::string bytes = text_.render();
  if (!writeAtomically(path_, bytes)) {
    logError(log_categories::kApp, "preferences: cannot write " + path_.toStdString());
    return;
  }
  unsaved_.clear();
  // Later reads compare against what was written, not against the hand-edited text before it.
  struct stat info {};
  if (stat(path_.toLocal8Bit().constData(), &info) == 0) {
    stamp_ = Stamp{info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
    bytes_ = bytes;
    clock_gettime(CLOCK_REALTIME, &readAt_);
  }
}

void SettingsStore::flush() {
  Keys changed;
  {
    std::lock_guard lock(mutex_);
    if (unsaved_.empty()) return;
    changed = refresh();
    save();
  }
  notify(changed);
}

void SettingsStore::write(std::string_view key, std::string_view value) {
  Keys changed;
  {
    std::lock_guard lock(mutex_);
    unsaved_[std::string(key)] = std::string(value);
    changed = refresh();  // the file as it is now, so that a hand edit made meanwhile is kept
    text_.set(key, value);
    save();
  }
  changed.emplace_back(key);
  notify(changed);
}

bool SettingsStore::hasValue(std::string_view key) const {
  Keys changed;
  bool has = false;
  {
    std::lock_guard lock(mutex_);
    changed = refresh();
    has = text_.values().count(key) > 0;
  }
  notify(changed);
  return has;
}

bool SettingsStore::boolValue(std::string_view key) const {
  const auto value = stringValue(key);
  return value && textToBool(*value);
}

std::optional<std::string> SettingsStore::stringValue(std::string_view key) const {
  Keys changed;
  std::optional<std::string> value;
  {
    std::lock_guard lock(mutex_);
    changed = refresh();
    if (const auto it = text_.values().find(key); it != text_.values().end()) value = it->second;
  }
  notify(changed);
  return value;
}

void SettingsStore::setBool(std::string_view key, bool value) {
  write(key, value ? "true" : "false");
}

void SettingsStore::setString(std::string_view key, std::string_view value) {
  write(key, value);
}

int SettingsStore::addObserver(Observer observer) {
  std::lock_guard lock(mutex_);
  int token = nextToken_++;
  (*observers_)[token] = std::move(observer);
  return token;
}

void SettingsStore::removeObserver(int token) {
  std::lock_guard lock(mutex_);
  observers_->erase(token);
}

void SettingsStore::notify(const Keys& keys) const {
  if (keys.empty()) return;
  std::weak_ptr<std::map<int, Observer>> weak = observers_;
  observerQueue_.async([this, weak, keys] {
    auto observers = weak.lock();
    if (!observers) return;
    std::map<int, Observer> copy;
    {
      std::lock_guard lock(mutex_);
      copy = *observers;
    }
    for (const auto& key : keys)
      for (auto& [token, observer] : copy) observer(key);
  });
}

}  // namespace tovami::linux_backend
