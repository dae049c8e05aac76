// The login item on Linux: an XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/app.tovami.Tovami.desktop.
#pragma once

#include <QString>

#include "platform/login_item.h"

namespace tovami::linux_backend {

class XdgAutostart final : public LoginItemService {
 public:
  // `autostartDir` is the folder that holds autostart entries; `executable` is what the entry runs.
  XdgAutostart(QString autostartDir, QString executable);
  static QString defaultDirectory();

  bool isEnabled() const override;
  std::optional<std::string> setEnabled(bool enabled) override;
  QString entryPath() const;

 private:
  QString dir_;
  QString executable_;
};

}  // namespace tovami::linux_backend
