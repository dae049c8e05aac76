// Device-owner authentication (the user's own password, or whatever the platform offers).
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace tovami {

class AuthenticationContext {
 public:
  virtual ~AuthenticationContext() = default;
  // False when the owner cannot be authenticated here at all (no usable service, no password).
  virtual bool canEvaluateOwnerAuthentication() = 0;
  // Asks the user, showing `reason`. `reply` runs exactly once, on any thread: true on success,
  // false on a wrong answer, a cancel or an invalidation.
  virtual void evaluateOwnerAuthentication(const std::string& reason,
                                           std::function<void(bool success)> reply) = 0;
  // Closes an open prompt; its reply comes with false. Harmless at any time.
  virtual void invalidate() = 0;
};

class Authenticator {
 public:
  virtual ~Authenticator() = default;
  virtual std::shared_ptr<AuthenticationContext> makeContext() = 0;
};

}  // namespace tovami
