#include "linux/app/xdg_autostart.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

#include "linux/files/regular_file.h"
#include "platform/log.h"

namespace tovami::linux_backend {
namespace {

constexpr size_t kMaxEntrySize = 64 * 1024;

QString quoteExec(const QString& path) {
  // Desktop-entry quoting: reserved characters force double quotes, with \" \` \$ \\ escaped.
  static const QString reserved = " \t\n\"'\\><~|&;$*?#()`";
  bool needsQuotes = std::any_of(path.begin(), path.end(), [](QChar c) { return reserved.contains(c); });
  if (!needsQuotes) return path;
  QString escaped;
  for (QChar c : path) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') escaped += '\\';
    escaped += c;
  }
  return '"' + escaped + '"';
}

}  // namespace

XdgAutostart::XdgAutostart(QString autostartDir, QString executable)
    : dir_(std::move(autostartDir)), executable_(std::move(executable)) {}

QString XdgAutostart::defaultDirectory() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/autostart";
}

QString XdgAutostart::entryPath() const {
  return dir_ + "/app.tovami.Tovami.desktop";
}

bool XdgAutostart::isEnabled() const {
  std::string bytes, why;
  switch (readRegularFile(entryPath().toStdString(), kMaxEntrySize, bytes, why)) {
    case FileRead::missing:
      return false;
    case FileRead::unreadable:
      logError(log_categories::kApp,
               "autostart: cannot read " + entryPath().toStdString() + " (" + why + ")");
      return false;
    case FileRead::read:
      break;
  }
  // The keys of the [Desktop Entry] group that turn an entry off.
  bool inEntry = false, off = false;
  for (const QString& raw : QString::fromUtf8(bytes.data(), qsizetype(bytes.size())).split('\n')) {
    const QString line = raw.trimmed();
    if (line.startsWith('[')) inEntry = line == "[Desktop Entry]";
    if (!inEntry) continue;
    const qsizetype equals = line.indexOf('=');
    if (equals < 0) continue;
    const QString key = line.left(equals).trimmed(), value = line.mid(equals + 1).trimmed();
    if ((key == "Hidden" && value.compare("true", Qt::CaseInsensitive) == 0) ||
        (key == "X-GNOME-Autostart-enabled" && value.compare("false", Qt::CaseInsensitive) == 0))
      off = true;
  }
  return !off;
}

std::optional<std::string> XdgAutostart::setEnabled(bool enabled) {
  if (!enabled) {
    QFile entry(entryPath());
    if (entry.exists() && !entry.remove()) return entry.errorString().toStdString();
    return std::nullopt;
  }
  if (!QDir().mkpath(dir_)) return "cannot create the folder " + dir_.toStdString();
  QSaveFile file(entryPath());
  if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) return file.errorString().toStdString();
  const QString text = QStringLiteral(
                           "[Desktop Entry]\n"
                           "Type=Application\n"
                           "Name=Tovami\n"
                           "Comment=Naps and agent watch for people who run coding agents\n"
                           "Exec=%1\n"
                           "TryExec=%2\n"
                           "Icon=tovami\n"
                           "Terminal=false\n"
                           "X-GNOME-Autostart-enabled=true\n")
                           .arg(quoteExec(executable_), executable_);
  file.write(text.toUtf8());
  if (!file.commit()) return file.errorString().toStdString();
  return std::nullopt;
}

}  // namespace tovami::linux_backend
