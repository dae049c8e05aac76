#include "island/island_actions.h"

#include <utility>

#include "app/preference_keys.h"
#include "island/island_state.h"
#include "platform/preferences_store.h"

namespace tovami {
namespace {

template <typename Action, typename... Arguments>
void call(const Action& action, Arguments&&... arguments) {
  if (action) action(std::forward<Arguments>(arguments)...);
}

}  // namespace

IslandControls::IslandControls(IslandState& state, PreferenceStore& preferences, TaskQueue& mainQueue,
                               IslandActions actions)
    : state_(state), preferences_(preferences), mainQueue_(mainQueue), actions_(std::move(actions)) {}

void IslandControls::perform(const IslandHit& hit, const ApprovalCardGuard& guard, Seconds uptime) {
  switch (hit.target) {
    case IslandTarget::none:
      return;
    case IslandTarget::outline:
      return state_.islandTapped();
    case IslandTarget::agentRow:
      // Closed first, so the island is out of the way when the terminal comes to the front.
      state_.collapse();
      if (hit.pid) call(actions_.jumpToAgent, *hit.pid);
      return;
    case IslandTarget::napNow:
      state_.collapse();
      // After this click has been handled: the nap grabs the pointer and keyboard.
      mainQueue_.async([napNow = actions_.napNow] { call(napNow); });
      return;
    case IslandTarget::napIn5Minutes:
    case IslandTarget::napIn15Minutes:
      state_.collapse();
      call(actions_.scheduleNap, hit.target == IslandTarget::napIn5Minutes ? kNapIn5Minutes : kNapIn15Minutes);
      return;
    case IslandTarget::napWhenIdle:
      return call(actions_.toggleNapWhenIdle);
    case IslandTarget::speaker:
      return preferences_.setBool(prefs::kAgentQuietSound, !boolOr(preferences_, prefs::kAgentQuietSound, true));
    case IslandTarget::gear:
      state_.collapse();
      return call(actions_.openSettings);
    case IslandTarget::allow:
    case IslandTarget::deny:
    case IslandTarget::always: {
      const auto id = guard.answers(hit, uptime);
      if (!id) return;  // a card that arrived since, or one not up long enough to be read
      const ApprovalDecision decision = hit.target == IslandTarget::allow  ? ApprovalDecision::allow
                                        : hit.target == IslandTarget::deny ? ApprovalDecision::deny
                                                                           : ApprovalDecision::always;
      return call(actions_.answer, *id, decision);
    }
  }
}

Transition transitionFor(IslandChange change, const IslandState& state, bool reduceMotion, Seconds uptime) {
  switch (change) {
    case IslandChange::phase:
      return state.phaseTransition();
    case IslandChange::hover:
      return state.hoverTransition();
    case IslandChange::content:
      break;
  }
  return Transition{reduceMotion ? AnimationCurve::immediate() : expandAnimation, uptime};
}

}  // namespace tovami
