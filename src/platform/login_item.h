// Registering the application to start at login.
#pragma once

#include <optional>
#include <string>

namespace tovami {

class LoginItemService {
 public:
  virtual ~LoginItemService() = default;
  virtual bool isEnabled() const = 0;
  // Empty on success; otherwise the reason, ready to show to the user.
  virtual std::optional<std::string> setEnabled(bool enabled) = 0;
};

}  // namespace tovami
