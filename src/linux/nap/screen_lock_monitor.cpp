#include "linux/nap/screen_lock_monitor.h"

#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

#include "platform/log.h"

namespace tovami::linux_backend {
namespace {
const QString kLogin = "org.freedesktop.login1";
const QString kSession = "org.freedesktop.login1.Session";
const QString kProperties = "org.freedesktop.DBus.Properties";
}  // namespace

ScreenLockMonitor::ScreenLockMonitor(std::function<void(bool)> changed) : changed_(std::move(changed)) {
  QDBusConnection session = QDBusConnection::sessionBus();
  if (session.isConnected()) {
    session.connect({}, "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver", "ActiveChanged", this,
                    SLOT(screenSaverActiveChanged(bool)));
    session.connect({}, "/ScreenSaver", "org.freedesktop.ScreenSaver", "ActiveChanged", this,
                    SLOT(screenSaverActiveChanged(bool)));
    session.connect({}, "/org/gnome/ScreenSaver", "org.gnome.ScreenSaver", "ActiveChanged", this,
                    SLOT(screenSaverActiveChanged(bool)));
  }
  QDBusConnection system = QDBusConnection::systemBus();
  if (!system.isConnected()) return;
  auto call = QDBusMessage::createMethodCall(kLogin, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                             "GetSessionByPID");
  call << static_cast<quint32>(::getpid());
  auto* watcher = new QDBusPendingCallWatcher(system.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* done) {
    done->deleteLater();
    QDBusPendingReply<QDBusObjectPath> reply = *done;
    if (reply.isError()) {
      logInfo(log_categories::kNap, "screen lock: no logind session (" + reply.error().message().toStdString() +
                                        "); the screen saver alone tells a lock");
      return;
    }
    watchSession(reply.value().path());
  });
}

void ScreenLockMonitor::watchSession(const QString& path) {
  QDBusConnection system = QDBusConnection::systemBus();
  system.connect(kLogin, path, kProperties, "PropertiesChanged", this,
                 SLOT(sessionPropertiesChanged(QString, QVariantMap, QStringList)));
  auto get = QDBusMessage::createMethodCall(kLogin, path, kProperties, "Get");
  get << kSession << QString("LockedHint");
  auto* watcher = new QDBusPendingCallWatcher(system.asyncCall(get), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* done) {
    done->deleteLater();
    QDBusPendingReply<QDBusVariant> reply = *done;
    if (reply.isError()) return;
    logindLocked_ = reply.value().variant().toBool();
    publish();
  });
}

void ScreenLockMonitor::sessionPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                                 const QStringList&) {
  if (interface != kSession || !changed.contains("LockedHint")) return;
  logindLocked_ = changed.value("LockedHint").toBool();
  publish();
}

void ScreenLockMonitor::screenSaverActiveChanged(bool active) {
  saverActive_ = active;
  publish();
}

void ScreenLockMonitor::publish() {
  const bool locked = logindLocked_ || saverActive_;
  if (locked == published_) return;
  published_ = locked;
  logInfo(log_categories::kNap, locked ? "screen locked" : "screen unlocked");
  if (changed_) changed_(locked);
}

}  // namespace tovami::linux_backend
