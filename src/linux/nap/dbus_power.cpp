#include "linux/nap/dbus_power.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>

#include "linux/x11/xcb_support.h"
#include "platform/log.h"

namespace tovami::linux_backend {
namespace {

const QString kScreenSaverService = "org.freedesktop.ScreenSaver";
const QString kScreenSaverPath = "/ScreenSaver";
const QString kScreenSaverInterface = "org.freedesktop.ScreenSaver";
const QString kLogindService = "org.freedesktop.login1";
const QString kLogindPath = "/org/freedesktop/login1";
const QString kLogindInterface = "org.freedesktop.login1.Manager";
const QString kApplicationName = "Tovami";

}  // namespace

DBusPowerManagement::DBusPowerManagement() = default;

DBusPowerManagement::~DBusPowerManagement() {
  for (auto& [id, held] : held_) giveBack(held);
}

bool DBusPowerManagement::createAssertion(PowerAssertionType type, const std::string& name,
                                          PowerAssertionID& id) {
  const PowerAssertionID mine = next_++;
  held_[mine] = Held{type};
  id = mine;
  const QString reason = QString::fromStdString(name);
  QDBusPendingCall call = [&] {
    if (type == PowerAssertionType::preventUserIdleDisplaySleep) {
      auto message = QDBusMessage::createMethodCall(kScreenSaverService, kScreenSaverPath,
                                                    kScreenSaverInterface, "Inhibit");
      message << kApplicationName << reason;
      return QDBusConnection::sessionBus().asyncCall(message);
    }
    auto message = QDBusMessage::createMethodCall(kLogindService, kLogindPath, kLogindInterface, "Inhibit");
    message << QString("idle") << kApplicationName << reason << QString("block");
    return QDBusConnection::systemBus().asyncCall(message);
  }();
  auto* watcher = new QDBusPendingCallWatcher(call, this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, mine](QDBusPendingCallWatcher* w) {
    w->deleteLater();
    auto it = held_.find(mine);
    if (it == held_.end()) return;
    Held& held = it->second;
    held.answered = true;
    if (w->isError()) {
      // Not reported further: the desktop simply has no such service.
      logInfo(log_categories::kPower, "keep-awake: " + w->error().name().toStdString() + " (" +
                                          w->error().message().toStdString() + ")");
      held_.erase(it);
      return;
    }
    if (held.type == PowerAssertionType::preventUserIdleDisplaySleep) {
      QDBusPendingReply<quint32> reply = *w;
      held.cookie = reply.argumentAt<0>();
    } else {
      QDBusPendingReply<QDBusUnixFileDescriptor> reply = *w;
      const QDBusUnixFileDescriptor descriptor = reply.argumentAt<0>();
      // The inhibitor lasts while any copy of the descriptor is open: keep our own.
      held.fd = descriptor.isValid() ? fcntl(descriptor.fileDescriptor(), F_DUPFD_CLOEXEC, 3) : -1;
    }
    if (held.released) {
      giveBack(held);
      held_.erase(it);
    }
  });
  return true;
}

bool DBusPowerManagement::declareUserActivity(const std::string&, PowerAssertionID& id) {
  if (id == 0) {
    id = next_++;
    Held activity{PowerAssertionType::preventUserIdleDisplaySleep};
    activity.activity = true;
    activity.answered = true;
    held_[id] = activity;
  }
  // The X server's idle counter drives its own screen saver and most idle watchers.
  if (xcb_connection_t* c = qtXcbConnection(); c && !xcb_connection_has_error(c)) {
    xcb_force_screen_saver(c, XCB_SCREEN_SAVER_RESET);
    xcb_flush(c);
  }
  auto message = QDBusMessage::createMethodCall(kScreenSaverService, kScreenSaverPath, kScreenSaverInterface,
                                                "SimulateUserActivity");
  // Fire and forget: GNOME answers NotSupported, others accept it.
  QDBusConnection::sessionBus().asyncCall(message);
  return true;
}

void DBusPowerManagement::releaseAssertion(PowerAssertionID id) {
  auto it = held_.find(id);
  if (it == held_.end()) return;
  if (!it->second.answered) {
    it->second.released = true;  // given back when the answer arrives
    return;
  }
  giveBack(it->second);
  held_.erase(it);
}

void DBusPowerManagement::giveBack(Held& held) {
  if (held.activity) return;
  if (held.type == PowerAssertionType::preventUserIdleDisplaySleep && held.cookie) {
    auto message = QDBusMessage::createMethodCall(kScreenSaverService, kScreenSaverPath,
                                                  kScreenSaverInterface, "UnInhibit");
    message << *held.cookie;
    QDBusConnection::sessionBus().asyncCall(message);
    held.cookie.reset();
  }
  if (held.fd >= 0) {
    ::close(held.fd);
    held.fd = -1;
  }
}

}  // namespace tovami::linux_backend
