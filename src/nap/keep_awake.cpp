#include "nap/keep_awake.h"

namespace tovami {

KeepAwake::KeepAwake(std::string reason, PowerManagement& power, TaskQueue& mainQueue)
    : reason_(std::move(reason)), power_(power), mainQueue_(mainQueue) {}

void KeepAwake::begin() {
  if (isActive_) return;
  isActive_ = true;
  // A failure to take an assertion is not reported: the flag just stays false.
  hasDisplay_ = power_.createAssertion(PowerAssertionType::preventUserIdleDisplaySleep, reason_, displayID_);
  hasSystem_ = power_.createAssertion(PowerAssertionType::preventUserIdleSystemSleep, reason_, systemID_);
  declareActivity();
  heartbeat_.start(mainQueue_, kHeartbeatInterval, [this] { declareActivity(); });
}

void KeepAwake::end() {
  if (!isActive_) return;
  isActive_ = false;
  heartbeat_.cancel();
  if (hasDisplay_) {
    power_.releaseAssertion(displayID_);
    hasDisplay_ = false;
  }
  if (hasSystem_) {
    power_.releaseAssertion(systemID_);
    hasSystem_ = false;
  }
  if (activityID_ != 0) {
    power_.releaseAssertion(activityID_);
    activityID_ = 0;
  }
}

void KeepAwake::declareActivity() {
  power_.declareUserActivity(reason_, activityID_);
}

}  // namespace tovami
