// Device-owner authentication (the user's own password, or whatever the platform offers).
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace tovami {

enum class AuthOutcome {
  succeeded,
  refused,      // a wrong answer, a cancel or an invalidation: the user may try again
  unavailable,  // the check cannot be made (broken service, locked or expired account): retrying cannot help
};

class AuthenticationContext {
 public:
  virtual ~AuthenticationContext() = default;
  // False when the owner cannot be authenticated here at all (no usable service, no password,
  // an account the service refuses).
  virtual bool canEvaluateOwnerAuthentication() = 0;
  // Asks the user, showing `reason`. `reply` runs exactly once, on any thread.
  virtual void evaluateOwnerAuthentication(const std::string& reason,
                                           std::function<void(AuthOutcome)> reply) = 0;
  // Closes an open prompt; its reply comes as refused. Harmless at any time.
  virtual void invalidate() = 0;
};

class Authenticator {
 public:
  virtual ~Authenticator() = default;
  virtual std::shared_ptr<AuthenticationContext> makeContext() = 0;
};

}  // namespace tovami
