// Keeps the display and the system from idle sleep while something the user cares about runs,
// and declares user activity every 30 s so that idle timers and screen savers stay put. One
// instance per owner, each with its own reason.
#pragma once

#include <string>

#include "platform/delayed_work.h"
#include "platform/power.h"

namespace tovami {

class KeepAwake {
 public:
  static constexpr Seconds kHeartbeatInterval = 30.0;

  KeepAwake(std::string reason, PowerManagement& power, TaskQueue& mainQueue);
  KeepAwake(const KeepAwake&) = delete;
  KeepAwake& operator=(const KeepAwake&) = delete;
  // Stops the heartbeat; owners end() before destroying an active instance.
  ~KeepAwake() = default;

  // Takes the assertions and starts the heartbeat; nothing if already active.
  void begin();
  // Releases what is held and stops the heartbeat; nothing if not active.
  void end();

  bool isActive() const { return isActive_; }
  bool hasDisplay() const { return hasDisplay_; }
  bool hasSystem() const { return hasSystem_; }
  const std::string& reason() const { return reason_; }

 private:
  void declareActivity();

  std::string reason_;
  PowerAssertionID displayID_ = 0;
  PowerAssertionID systemID_ = 0;
  PowerAssertionID activityID_ = 0;
  bool hasDisplay_ = false;
  bool hasSystem_ = false;
  RepeatingTimer heartbeat_;  // cancelled with the instance, so its task may hold `this`
  bool isActive_ = false;
  PowerManagement& power_;
  TaskQueue& mainQueue_;
};

}  // namespace tovami
