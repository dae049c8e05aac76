#include "linux/nap/desktop_motion_settings.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <cstring>

#include "platform/log.h"

namespace tovami::linux_backend {
namespace {

constexpr const char* kSchema = "org.gnome.desktop.interface";
constexpr const char* kKey = "enable-animations";
constexpr const char* kPortal = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kSettings = "org.freedesktop.portal.Settings";
constexpr int kPortalTimeoutMs = 2000;
constexpr int kGsettingsTimeoutMs = 2000;

}  // namespace

void DesktopMotionSettings::follow() {
  if (following_) return;
  following_ = true;
  auto bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    readGsettings();
    return;
  }
  if (!bus.connect(kPortal, kPortalPath, kSettings, "SettingChanged", this,
                   SLOT(settingChanged(QDBusMessage))))
    logError(log_categories::kNap, "reduce motion: changes cannot be followed: " +
                                       bus.lastError().message().toStdString());
  readPortal("ReadOne");
}

std::optional<bool> DesktopMotionSettings::animationsFromPortalReply(const QVariant& reply) {
  QVariant value = reply;
  // Read() wraps the value in one variant more than ReadOne(); unwrap whatever comes.
  for (int depth = 0; depth < 4; ++depth) {
    if (value.canConvert<QDBusVariant>() && value.metaType() == QMetaType::fromType<QDBusVariant>()) {
      value = value.value<QDBusVariant>().variant();
      continue;
    }
    if (value.metaType() == QMetaType::fromType<QDBusArgument>()) {
      const auto argument = value.value<QDBusArgument>();
      if (argument.currentType() != QDBusArgument::VariantType) return std::nullopt;
      QDBusVariant inner;
      argument >> inner;
      value = inner.variant();
      continue;
    }
    break;
  }
  if (value.metaType() == QMetaType::fromType<bool>()) return value.toBool();
  return std::nullopt;
}

std::optional<bool> DesktopMotionSettings::animationsFromGsettingsOutput(const QByteArray& output) {
  const QByteArray text = output.trimmed();
  if (text == "true") return true;
  if (text == "false") return false;
  return std::nullopt;
}

void DesktopMotionSettings::settingChanged(const QDBusMessage& message) {
  const QList<QVariant> arguments = message.arguments();  // namespace, key, value
  if (arguments.size() != 3 || arguments[0].toString() != QLatin1String(kSchema) ||
      arguments[1].toString() != QLatin1String(kKey))
    return;
  apply(animationsFromPortalReply(arguments[2]), true);
}

void DesktopMotionSettings::readPortal(const char* method) {
  auto call = QDBusMessage::createMethodCall(kPortal, kPortalPath, kSettings, method);
  call << QString::fromLatin1(kSchema) << QString::fromLatin1(kKey);
  auto* watcher =
      new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, kPortalTimeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, method](QDBusPendingCallWatcher* done) {
    done->deleteLater();
    const QDBusMessage reply = done->reply();
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
      if (auto value = animationsFromPortalReply(reply.arguments().first())) return apply(value, false);
    }
    // An older portal knows only Read(); with no portal at all, ask gsettings.
    const bool noPortal = reply.errorName() == "org.freedesktop.DBus.Error.ServiceUnknown" ||
                          reply.errorName() == "org.freedesktop.DBus.Error.NoReply";
    if (!noPortal && std::strcmp(method, "ReadOne") == 0) return readPortal("Read");
    readGsettings();
  });
}

void DesktopMotionSettings::readGsettings() {
  const QString program = QStandardPaths::findExecutable("gsettings");
  if (program.isEmpty()) return;
  auto* process = new QProcess(this);
  process->setStandardErrorFile(QProcess::nullDevice());
  connect(process, &QProcess::finished, this, [this, process](int code, QProcess::ExitStatus status) {
    process->deleteLater();
    if (status == QProcess::NormalExit && code == 0)
      apply(animationsFromGsettingsOutput(process->readAllStandardOutput().left(64)), false);
  });
  connect(process, &QProcess::errorOccurred, this, [process](QProcess::ProcessError error) {
    if (error == QProcess::FailedToStart) process->deleteLater();
  });
  // A hung child is ended; its finished() then reports a crash and changes nothing.
  QTimer::singleShot(kGsettingsTimeoutMs, process, [process] { process->kill(); });
  process->start(program, {"get", kSchema, kKey});
}

void DesktopMotionSettings::apply(std::optional<bool> animations, bool fromSignal) {
  if (!animations || (!fromSignal && changeSeen_)) return;
  changeSeen_ = changeSeen_ || fromSignal;
  const bool reduce = !*animations;
  if (reduce == reduce_) return;
  reduce_ = reduce;
  logInfo(log_categories::kNap, reduce ? "reduce motion: on" : "reduce motion: off");
  if (onChange_) onChange_();
}

}  // namespace tovami::linux_backend
