// Desktop notifications over org.freedesktop.Notifications on the session bus. Every call is
// asynchronous: a server that hangs never stalls the main thread.
#pragma once

#include <QObject>
#include <QString>

#include "platform/notifications.h"

namespace tovami::linux_backend {

class DBusNotifications final : public QObject, public DesktopNotifications {
  Q_OBJECT
 public:
  DBusNotifications();
  void setHandlers(Handlers handlers) override { handlers_ = std::move(handlers); }
  void capabilities(std::function<void(std::optional<std::vector<std::string>>)> done) override;
  void notify(const DesktopNotification& notification, Id replaces,
              std::function<void(std::optional<Id>)> done) override;
  void close(Id id) override;

 public slots:  // D-Bus delivers signals to public slots only
  void actionInvoked(uint id, const QString& actionKey);
  void notificationClosed(uint id, uint reason);

 private:
  Handlers handlers_;
};

}  // namespace tovami::linux_backend
