// Everything the island's picture depends on, as plain values: the caller copies them from the
// island, agent, usage and approval states and the preferences before each drawing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "agents/agent_session.h"
#include "approvals/approval_request.h"
#include "peers/usage_snapshot.h"
#include "island/island_types.h"
#include "nap/nap_report.h"
#include "platform/geometry.h"
#include "platform/scheduler.h"

namespace tovami {

// The things a click or the pointer can land on.
enum class IslandTarget {
  none,  // outside the outline: the click belongs to the window below
  outline,
  agentRow,
  napNow,
  napIn5Minutes,
  napIn15Minutes,
  napWhenIdle,
  speaker,
  gear,
  allow,
  deny,
  always,  // allow, and keep the request's permission suggestions
};

struct IslandHit {
  IslandTarget target = IslandTarget::none;
  std::optional<int32_t> pid;  // agent rows only
  std::string requestId;       // approval buttons: the request of the card they were drawn on
  bool operator==(const IslandHit&) const = default;
};

struct IslandScene {
  IslandPhase phase = IslandPhase::collapsed;
  IslandMode mode = IslandMode::notch;
  // The camera housing in notch mode, the pill's row in pill mode.
  Size collapsedSize{200, 32};
  double menuBarHeight = 24;
  bool hovering = false;
  std::optional<Seconds> napTimerDeadline;  // Unix seconds
  std::optional<NapReport> wakeReport;
  std::vector<AgentSession> sessions;
  bool napWhenIdleArmed = false;
  std::optional<UsageSnapshot> usage;
  // Where the figures come from and how fresh they are, or why there are none ("usage endpoint
  // busy, next try in 20m"); empty: nothing to say.
  std::string usageCaption;
  std::optional<ApprovalRequest> approval;  // the card in front
  std::size_t approvalCount = 0;            // requests waiting, the one in front included
  std::optional<ApprovalNotice> approvalNotice;
  // The card's buttons take clicks (see ApprovalCardGuard); drawn dimmed until then.
  bool approvalArmed = true;
  // Preferences: "islandShowsCat", "agentWatchEnabled", "agentShowSnippets", "agentQuietSound".
  bool showsCat = true;
  bool agentWatch = true;
  bool showSnippets = true;
  bool agentQuietSound = true;
  bool reduceMotion = false;
  std::optional<int32_t> hoveredSession;  // pid of the agent row under the pointer
  std::optional<IslandHit> pressed;       // the control held down, drawn pressed
  Seconds now = 0;                        // wall clock, for the countdowns
  Seconds animationTime = 0;              // clock of the pixel figures

  bool showsUsageLine() const { return usage.has_value() || !usageCaption.empty(); }
  // The left wing: agents are listed, or a request waits (its count is the wing's figure).
  bool showsStatusWing() const { return agentsListed() || approval.has_value(); }
  // Agent watching is on and at least one session runs.
  bool agentsListed() const { return agentWatch && !sessions.empty(); }
  bool anyWorking() const {
    for (const auto& session : sessions)
      if (session.activity == AgentActivity::working) return true;
    return false;
  }
  // The countdown shows only while the deadline lies ahead.
  bool countdownRunning() const { return napTimerDeadline && *napTimerDeadline > now; }
};

}  // namespace tovami
