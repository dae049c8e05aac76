// What each of the island's controls does, and which curve each kind of change moves along. The
// window turns the pointer into an IslandHit; everything after that is decided here.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "approvals/approval_request.h"
#include "island/approval_card_guard.h"
#include "island/island_animation.h"
#include "island/island_scene.h"
#include "platform/scheduler.h"

namespace tovami {

class IslandState;
class PreferenceStore;

// The outside world the controls reach; each may be left empty.
struct IslandActions {
  std::function<void(int32_t pid)> jumpToAgent;
  std::function<void()> napNow;
  std::function<void(Seconds delay)> scheduleNap;
  std::function<void()> toggleNapWhenIdle;
  std::function<void()> openSettings;
  // The user's answer to the request with this id (the card the button was drawn on).
  std::function<void(const std::string& requestId, ApprovalDecision decision)> answer;
};

class IslandControls {
 public:
  static constexpr Seconds kNapIn5Minutes = 300;
  static constexpr Seconds kNapIn15Minutes = 900;

  IslandControls(IslandState& state, PreferenceStore& preferences, TaskQueue& mainQueue, IslandActions actions);

  // A click landed on `hit`; `guard` says which approval card, if any, may be answered now.
  void perform(const IslandHit& hit, const ApprovalCardGuard& guard, Seconds uptime);

 private:
  IslandState& state_;
  PreferenceStore& preferences_;
  TaskQueue& mainQueue_;
  IslandActions actions_;
};

enum class IslandChange { phase, hover, content };

// The move towards a new look: the phase's own curve when the island opened or closed, the hover
// curve when only the hover flag changed, a quick spring (or nothing, with reduced motion) when
// only the content did.
Transition transitionFor(IslandChange change, const IslandState& state, bool reduceMotion, Seconds uptime);

}  // namespace tovami
