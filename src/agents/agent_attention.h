// Whether the user is looking at an agent right now, so that a notice or an announcement about it
// need not ring or pop the island: its own terminal window is the focused one, or its tmux pane is
// the active pane of the active window of a tmux client whose terminal window is focused.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "agents/agent_session.h"
#include "agents/tmux_servers.h"
#include "platform/jump_environment.h"
#include "platform/processes.h"
#include "platform/window_activation.h"

namespace tovami {

class AgentAttention {
 public:
  virtual ~AgentAttention() = default;
  // May run tmux (bounded by kTmuxTimeoutSeconds): call it off the main thread. Any thread.
  virtual bool userIsLookingAt(const AgentSession& session) = 0;
};

// Finds the client's terminal window as the terminal jump does: the terminal is the nearest
// ancestor of the tmux client (or of the agent) that owns the focused window.
class TerminalAttention final : public AgentAttention {
 public:
  TerminalAttention(ProcessLauncher& launcher, JumpEnvironment& environment, WindowActivation& windows);
  bool userIsLookingAt(const AgentSession& session) override;

 private:
  // Whether `pid` or one of its nearest ancestors owns the focused window.
  bool showsFocusedWindow(int32_t pid, int32_t focused);

  TmuxServers tmux_;
  JumpEnvironment& environment_;
  WindowActivation& windows_;
};

}  // namespace tovami
