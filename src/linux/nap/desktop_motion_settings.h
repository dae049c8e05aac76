// Reduce motion on Linux: the desktop's "enable-animations" switch (GNOME and the desktops that
// follow its settings). Read once, without blocking, when following starts (the settings portal,
// else gsettings) and followed through the portal's SettingChanged signal; reduceMotion() answers
// from memory, so a nap never waits on the desktop.
#pragma once

#include <QDBusMessage>
#include <QObject>
#include <QVariant>
#include <functional>
#include <optional>

#include "platform/motion.h"

namespace tovami::linux_backend {

class DesktopMotionSettings final : public QObject, public MotionSettings {
  Q_OBJECT

 public:
  DesktopMotionSettings() = default;
  // Subscribes to changes and starts the first reading; both return at once. Once is enough.
  void follow();

  // False (motion on) until the desktop has answered, and when it never does.
  bool reduceMotion() const override { return reduce_; }
  // Called on the GUI thread whenever the value changes.
  void setOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }

  // The switch's value from a portal reply or signal (a boolean, possibly wrapped in variants).
  static std::optional<bool> animationsFromPortalReply(const QVariant& reply);
  // The switch's value from gsettings' output ("true" or "false").
  static std::optional<bool> animationsFromGsettingsOutput(const QByteArray& output);

 public slots:  // D-Bus delivers signals to public slots only
  void settingChanged(const QDBusMessage& message);

 private:
  void readPortal(const char* method);
  void readGsettings();
  void apply(std::optional<bool> animations, bool fromSignal);

  bool reduce_ = false;
  bool following_ = false;
  bool changeSeen_ = false;  // a signal outranks a reading that was asked for before it
  std::function<void()> onChange_;
};

}  // namespace tovami::linux_backend
