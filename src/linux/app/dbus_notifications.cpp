#include "linux/app/dbus_notifications.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

#include "platform/log.h"

namespace tovami::linux_backend {
namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr int kCallTimeoutMs = 5000;

QDBusMessage method(const char* name) {
  return QDBusMessage::createMethodCall(kService, kPath, kInterface, name);
}

}  // namespace

DBusNotifications::DBusNotifications() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  bus.connect(kService, kPath, kInterface, "ActionInvoked", this, SLOT(actionInvoked(uint, QString)));
  bus.connect(kService, kPath, kInterface, "NotificationClosed", this, SLOT(notificationClosed(uint, uint)));
}

void DBusNotifications::capabilities(std::function<void(std::optional<std::vector<std::string>>)> done) {
  auto* watcher = new QDBusPendingCallWatcher(
      QDBusConnection::sessionBus().asyncCall(method("GetCapabilities"), kCallTimeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [done](QDBusPendingCallWatcher* w) {
    w->deleteLater();
    QDBusPendingReply<QStringList> reply = *w;
    if (reply.isError()) {
      logInfo(log_categories::kApprovals, "notification server: " + reply.error().message().toStdString());
      return done(std::nullopt);
    }
    std::vector<std::string> names;
    for (const QString& name : reply.value()) names.push_back(name.toStdString());
    done(std::move(names));
  });
}

void DBusNotifications::notify(const DesktopNotification& notification, Id replaces,
                               std::function<void(std::optional<Id>)> done) {
  QStringList actions;
  for (const auto& action : notification.actions)
    actions << QString::fromStdString(action.key) << QString::fromStdString(action.label);
  QVariantMap hints;
  hints["desktop-entry"] = QString("tovami");
  // A request waits for the user: critical urgency keeps it up on servers that would let it expire.
  hints["urgency"] = QVariant::fromValue<uchar>(notification.persistent ? 2 : 1);
  if (notification.persistent) hints["resident"] = true;
  QDBusMessage message = method("Notify");
  message << QString("Tovami") << static_cast<uint>(replaces) << QString("tovami")
          << QString::fromStdString(notification.summary) << QString::fromStdString(notification.body)
          << actions << hints << static_cast<int>(notification.persistent ? 0 : -1);
  auto* watcher =
      new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(message, kCallTimeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [done](QDBusPendingCallWatcher* w) {
    w->deleteLater();
    QDBusPendingReply<uint> reply = *w;
    if (reply.isError()) {
      logInfo(log_categories::kApprovals, "notification not shown: " + reply.error().message().toStdString());
      return done(std::nullopt);
    }
    done(reply.value());
  });
}

void DBusNotifications::close(Id id) {
  QDBusMessage message = method("CloseNotification");
  message << static_cast<uint>(id);
  QDBusConnection::sessionBus().asyncCall(message, kCallTimeoutMs);
}

void DBusNotifications::actionInvoked(uint id, const QString& actionKey) {
  if (handlers_.actionInvoked) handlers_.actionInvoked(id, actionKey.toStdString());
}

void DBusNotifications::notificationClosed(uint id, uint) {
  if (handlers_.closed) handlers_.closed(id);
}

}  // namespace tovami::linux_backend
