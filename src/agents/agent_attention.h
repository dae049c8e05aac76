// Whether the user is looking at an agent right now, so that a notice or an announcement about it
// need not ring or pop the island: the focused window shows the agent's own tab, or its tmux pane
// is the active pane of the active window of a tmux client whose own window is focused. One
// terminal process often owns every window and tab (a terminal server, kitty, urxvtd, Konsole), so
// the focused window's owner says nothing alone: its id, the terminal's remote control or its
// title must name this very window. When that cannot be told, the user is not looking.
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
// ancestor of the tmux client (or of the agent) that owns the focused window; kitty and WezTerm are
// asked through their remote control which of their windows and panes is focused.
class TerminalAttention final : public AgentAttention {
 public:
  TerminalAttention(ProcessLauncher& launcher, JumpEnvironment& environment, WindowActivation& windows);
  bool userIsLookingAt(const AgentSession& session) override;

 private:
  // Whether `pid` or one of its nearest ancestors owns the focused window.
  bool ownsFocusedWindow(int32_t pid, int32_t focused);
  // Whether the focused window shows `viewer` (the agent, or the tmux client showing its pane) and
  // not another window or tab of the same terminal. `terminalName`: the terminal's, where known.
  bool showsViewer(int32_t viewer, const TopLevelWindow& focused, const AgentSession& session,
                   std::optional<std::string> terminalName);
  // What kitty's or WezTerm's remote control says; nothing when it has none or does not answer.
  std::optional<bool> remoteControlShows(int32_t viewer, const TopLevelWindow& focused,
                                         const std::optional<std::string>& terminalName);

  TmuxServers tmux_;
  ProcessLauncher& launcher_;
  JumpEnvironment& environment_;
  WindowActivation& windows_;
};

}  // namespace tovami
