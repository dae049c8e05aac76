// Desktop notifications (org.freedesktop.Notifications on Linux): show, replace and close one, and
// hear which of its actions the user chose. Main thread; every answer arrives later on it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tovami {

struct DesktopNotification {
  struct Action {
    std::string key;  // handed back when chosen
    std::string label;
    bool operator==(const Action&) const = default;
  };
  std::string summary;
  std::string body;  // already escaped where the server reads markup
  std::vector<Action> actions;
  bool persistent = false;  // stays until answered or closed, rather than timing out
  bool operator==(const DesktopNotification&) const = default;
};

class DesktopNotifications {
 public:
  // The server's own number for a notification; 0 is none.
  using Id = uint32_t;
  struct Handlers {
    std::function<void(Id id, const std::string& actionKey)> actionInvoked;
    std::function<void(Id id)> closed;  // dismissed, expired or closed by us
  };
  virtual ~DesktopNotifications() = default;
  virtual void setHandlers(Handlers handlers) = 0;
  // What the server offers ("actions", "body-markup", …); nothing when no server answers.
  virtual void capabilities(std::function<void(std::optional<std::vector<std::string>>)> done) = 0;
  // Shows `notification` in place of `replaces` (0: a new one); `done` gets its id, or nothing.
  virtual void notify(const DesktopNotification& notification, Id replaces,
                      std::function<void(std::optional<Id>)> done) = 0;
  virtual void close(Id id) = 0;
};

}  // namespace tovami
