// Keep-awake on a Linux desktop: the session's screen-saver inhibitor for the display, a logind
// "idle" block inhibitor for the system, and the X server's idle reset (plus the screen saver's
// SimulateUserActivity where the desktop offers it) as the user-activity declaration. Calls go
// out asynchronously; an inhibitor released before its answer arrives is given back on arrival.
// Failures are not reported to the caller.
#pragma once

#include <QObject>
#include <map>
#include <optional>

#include "platform/power.h"

namespace tovami::linux_backend {

class DBusPowerManagement final : public QObject, public PowerManagement {
 public:
  DBusPowerManagement();
  ~DBusPowerManagement() override;

  bool createAssertion(PowerAssertionType type, const std::string& name, PowerAssertionID& id) override;
  bool declareUserActivity(const std::string& name, PowerAssertionID& id) override;
  void releaseAssertion(PowerAssertionID id) override;

 private:
  struct Held {
    PowerAssertionType type;
    bool activity = false;
    bool released = false;  // released before the answer came
    bool answered = false;
    std::optional<quint32> cookie;  // screen-saver inhibitor
    int fd = -1;                    // logind inhibitor
  };
  void giveBack(Held& held);

  std::map<PowerAssertionID, Held> held_;
  PowerAssertionID next_ = 1;
};

}  // namespace tovami::linux_backend
