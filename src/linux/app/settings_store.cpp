#include "linux/app/settings_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "platform/log.h"

namespace tovami::linux_backend {
namespace {

QString toKey(std::string_view key) {
  return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
}

// Booleans read as the platform's own defaults do: true, yes and non-zero numbers are true;
// anything else stored under the key is false.
bool variantToBool(const QVariant& v) {
  if (!v.isValid()) return false;
  if (v.typeId() == QMetaType::Bool) return v.toBool();
  const QString s = v.toString().trimmed().toLower();
  if (s == "true" || s == "yes") return true;
  bool isNumber = false;
  const double n = s.toDouble(&isNumber);
  return isNumber && n != 0;
}

}  // namespace

QString SettingsStore::defaultFilePath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/tovami/tovami.conf";
}

SettingsStore::SettingsStore(const QString& filePath, TaskQueue& observerQueue)
    : observerQueue_(observerQueue), observers_(std::make_shared<std::map<int, Observer>>()) {
  QFileInfo info(filePath);
  if (info.exists() && !info.isReadable()) {
    logError(log_categories::kApp, "preferences: cannot read " + filePath.toStdString() +
                                       "; using defaults for this run and leaving the file untouched");
    return;
  }
  QDir().mkpath(info.absolutePath());
  settings_ = std::make_unique<QSettings>(filePath, QSettings::IniFormat);
  if (settings_->status() == QSettings::FormatError) {
    // Keep the original beside the file before anything rewrites it; the readable values stay in use.
    const QString backup = filePath + ".malformed";
    QFile::remove(backup);
    QFile::copy(filePath, backup);
    logError(log_categories::kApp,
             "preferences: " + filePath.toStdString() +
                 " is malformed; using the values that could be read (original kept as " +
                 backup.toStdString() + ")");
  }
}

SettingsStore::~SettingsStore() {
  flush();
}

void SettingsStore::flush() {
  std::lock_guard lock(mutex_);
  if (!settings_) return;
  settings_->sync();
  if (settings_->status() == QSettings::AccessError)
    logError(log_categories::kApp, "preferences: cannot write " + settings_->fileName().toStdString());
}

QVariant SettingsStore::read(std::string_view key) const {
  std::lock_guard lock(mutex_);
  if (settings_) return settings_->value(toKey(key));
  auto it = memoryOnly_.find(toKey(key));
  return it == memoryOnly_.end() ? QVariant() : it->second;
}

void SettingsStore::write(std::string_view key, const QVariant& value) {
  {
    std::lock_guard lock(mutex_);
    if (settings_) {
      settings_->setValue(toKey(key), value);
      settings_->sync();
    } else {
      memoryOnly_[toKey(key)] = value;
    }
  }
  notify(key);
}

bool SettingsStore::hasValue(std::string_view key) const {
  return read(key).isValid();
}

bool SettingsStore::boolValue(std::string_view key) const {
  return variantToBool(read(key));
}

std::optional<std::string> SettingsStore::stringValue(std::string_view key) const {
  QVariant v = read(key);
  if (!v.isValid() || v.typeId() != QMetaType::QString) return std::nullopt;
  return v.toString().toStdString();
}

void SettingsStore::setBool(std::string_view key, bool value) {
  write(key, value);
}

void SettingsStore::setString(std::string_view key, std::string_view value) {
  write(key, QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size())));
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
