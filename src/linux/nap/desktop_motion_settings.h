// Reduce motion on Linux: the desktop's "enable-animations" switch (GNOME and the desktops that
// follow its settings), read through the settings portal, else through gsettings.
#pragma once

#include <QVariant>
#include <optional>

#include "platform/motion.h"

namespace tovami::linux_backend {

class DesktopMotionSettings final : public MotionSettings {
 public:
  bool reduceMotion() const override;

  // The switch's value from a portal reply (a boolean, possibly wrapped in variants).
  static std::optional<bool> animationsFromPortalReply(const QVariant& reply);
  // The switch's value from gsettings' output ("true" or "false").
  static std::optional<bool> animationsFromGsettingsOutput(const QByteArray& output);

 private:
  static std::optional<bool> readPortal();
  static std::optional<bool> readGsettings();
};

}  // namespace tovami::linux_backend
