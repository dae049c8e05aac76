#include "linux/app/accessibility_bus_probe.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusReply>

namespace tovami::linux_backend {

bool accessibilityBusHangs(std::chrono::milliseconds bound) {
  const QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected() || !bus.interface()) return false;
  // The bus daemon answers this itself; only an owned name can hang.
  const QDBusReply<bool> owned = bus.interface()->isServiceRegistered(QStringLiteral("org.a11y.Bus"));
  if (!owned.isValid() || !owned.value()) return false;
  QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                                     QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("GetAll"));
  call << QStringLiteral("org.a11y.Status");
  const QDBusMessage answer = bus.call(call, QDBus::Block, int(bound.count()));
  if (answer.type() != QDBusMessage::ErrorMessage) return false;
  const QDBusError::ErrorType error = QDBusError(answer).type();
  return error == QDBusError::NoReply || error == QDBusError::Timeout;
}

}  // namespace tovami::linux_backend
