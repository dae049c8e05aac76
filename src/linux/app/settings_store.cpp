#include "linux/app/settings_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/preference_keys.h"
#include "platform/log.h"

namespace tovami::linux_backend {
namespace {

enum class FileRead { missing, unreadable, read };

bool usable(const struct stat& info, std::string& why) {
  if (!S_ISREG(info.st_mode))
    why = "not a regular file";
  else if (info.st_size > SettingsStore::kMaxFileSize)
    why = "larger than 1 MB";
  return why.empty();
}

// Reads a small regular file. FIFOs and devices are refused before they are opened (and the
// open cannot block), so that a strange file never hangs the start.
FileRead readSmallFile(const std::string& path, std::string& bytes, std::string& why) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) return FileRead::missing;
    why = std::strerror(errno);
    return FileRead::unreadable;
  }
  if (!usable(info, why)) return FileRead::unreadable;
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    why = std::strerror(errno);
    return FileRead::unreadable;
  }
  if (fstat(fd, &info) == 0 && usable(info, why)) {
    char chunk[16384];
    for (;;) {
      const ssize_t got = read(fd, chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) why = std::strerror(errno);
      if (got <= 0) break;
      bytes.append(chunk, size_t(got));
      if (bytes.size() > size_t(SettingsStore::kMaxFileSize)) {
        why = "larger than 1 MB";
        break;
      }
    }
  } else if (why.empty()) {
    why = std::strerror(errno);
  }
  close(fd);
  return why.empty() ? FileRead::read : FileRead::unreadable;
}

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

SettingsStore::SettingsStore(const QString& filePath, TaskQueue& observerQueue)
    : path_(filePath),
      observerQueue_(observerQueue),
      observers_(std::make_shared<std::map<int, Observer>>()) {
  load();
}

SettingsStore::~SettingsStore() {
  flush();
}

void SettingsStore::load() {
  const std::string path = path_.toStdString();
  std::string bytes, why;
  switch (readSmallFile(path, bytes, why)) {
    case FileRead::missing:
      return;
    case FileRead::unreadable:
      persistent_ = false;
      logError(log_categories::kApp, "preferences: cannot read " + path + " (" + why +
                                         "); using defaults for this run and leaving the file untouched");
      useSafeValuesForUnreadKeys();
      return;
    case FileRead::read:
      break;
  }
  text_ = PreferencesText(bytes);
  if (text_.damagedLines() == 0) return;
  // Keep the original beside the file before anything rewrites it; the readable lines stay in use.
  const QString backup = path_ + ".malformed";
  if (writeAtomically(backup, bytes)) {
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
  useSafeValuesForUnreadKeys();
}

void SettingsStore::useSafeValuesForUnreadKeys() {
  for (const auto& [key, safe] : prefs::kFailClosed) {
    if (text_.values().count(key)) continue;
    text_.set(key, safe);
    logError(log_categories::kApp, "preferences: " + std::string(key) + " could not be read; using \"" +
                                       std::string(safe) + "\" until it is chosen again");
  }
}

void SettingsStore::save() {
  if (!persistent_) return;
  unsaved_ = !writeAtomically(path_, text_.render());
  if (unsaved_) logError(log_categories::kApp, "preferences: cannot write " + path_.toStdString());
}

void SettingsStore::flush() {
  std::lock_guard lock(mutex_);
  if (unsaved_) save();
}

void SettingsStore::write(std::string_view key, std::string_view value) {
  {
    std::lock_guard lock(mutex_);
    text_.set(key, value);
    save();
  }
  notify(key);
}

bool SettingsStore::hasValue(std::string_view key) const {
  std::lock_guard lock(mutex_);
  return text_.values().count(key) > 0;
}

bool SettingsStore::boolValue(std::string_view key) const {
  const auto value = stringValue(key);
  return value && textToBool(*value);
}

std::optional<std::string> SettingsStore::stringValue(std::string_view key) const {
  std::lock_guard lock(mutex_);
  const auto it = text_.values().find(key);
  if (it == text_.values().end()) return std::nullopt;
  return it->second;
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

void SettingsStore::notify(std::string_view key) {
  std::weak_ptr<std::map<int, Observer>> weak = observers_;
  observerQueue_.async([this, weak, key = std::string(key)] {
    auto observers = weak.lock();
    if (!observers) return;
    std::map<int, Observer> copy;
    {
      std::lock_guard lock(mutex_);
      copy = *observers;
    }
    for (auto& [token, observer] : copy) observer(key);
  });
}

}  // namespace tovami::linux_backend
