// Whether the screen is locked: logind's LockedHint of this session (system bus) or the desktop's
// screen saver being active (ActiveChanged of org.freedesktop.ScreenSaver or org.gnome.ScreenSaver,
// session bus). Either counts. Without a bus it never reports a lock.
#pragma once

#include <QObject>
#include <QVariantMap>
#include <functional>

class QDBusMessage;

namespace tovami::linux_backend {

class ScreenLockMonitor final : public QObject {
  Q_OBJECT
 public:
  // `changed` runs on the main thread with the new state, only when it changes.
  explicit ScreenLockMonitor(std::function<void(bool locked)> changed);

 private slots:
  void sessionPropertiesChanged(const QString& interface, const QVariantMap& changed, const QStringList&);
  void screenSaverActiveChanged(bool active);

 private:
  void watchSession(const QString& path);
  void publish();

  std::function<void(bool)> changed_;
  bool logindLocked_ = false, saverActive_ = false, published_ = false;
};

}  // namespace tovami::linux_backend
