// Power assertions: keep the display and the system from idle sleep, and tell the system that
// the user is active.
#pragma once

#include <cstdint>
#include <string>

namespace tovami {

using PowerAssertionID = std::uint32_t;

enum class PowerAssertionType { preventUserIdleDisplaySleep, preventUserIdleSystemSleep };

class PowerManagement {
 public:
  virtual ~PowerManagement() = default;
  // Takes an assertion named `name`; true on success with its identifier in `id`.
  virtual bool createAssertion(PowerAssertionType type, const std::string& name, PowerAssertionID& id) = 0;
  // Declares local user activity. Reuses `id` when it is not 0 and stores the identifier to
  // release later. True on success.
  virtual bool declareUserActivity(const std::string& name, PowerAssertionID& id) = 0;
  virtual void releaseAssertion(PowerAssertionID id) = 0;
};

}  // namespace tovami
