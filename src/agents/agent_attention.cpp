#include "agents/agent_attention.h"

#include <algorithm>

#include "agents/process_sampling.h"
#include "agents/process_table.h"
#include "agents/tty_jumps.h"

namespace tovami {

TerminalAttention::TerminalAttention(ProcessLauncher& launcher, JumpEnvironment& environment,
                                     WindowActivation& windows)
    : tmux_(launcher, environment), environment_(environment), windows_(windows) {}

bool TerminalAttention::showsFocusedWindow(int32_t pid, int32_t focused) {
  std::optional<int32_t> current = pid;
  for (int generation = 0; current && *current > 1 && generation <= kMaxApplicationWalk; ++generation) {
    if (*current == focused) return true;
    current = environment_.parentOf(*current);
  }
  return false;
}

bool TerminalAttention::userIsLookingAt(const AgentSession& session) {
  const auto focused = windows_.frontmostPID();
  if (!focused) return false;
  const auto tmuxVariable = environment_.environmentVariable(session.pid, "TMUX");
  if (!tmuxVariable) {
    // Not in tmux: the agent's own terminal window (the terminal is its ancestor).
    return showsFocusedWindow(session.pid, *focused);
  }
  if (!session.terminalTTY || session.terminalTTY->empty()) return false;
  const auto socket = tmux::socketFromEnvironment(*tmuxVariable);
  if (!socket) return false;
  const auto output = tmux_.run(tmux::attentionArguments(*socket));
  if (!output) return false;
  const std::string tty = tmux::devicePath(*session.terminalTTY);
  const auto panes = tmux::parseShownPanes(*output);
  const auto pane = std::find_if(panes.begin(), panes.end(), [&](const auto& p) { return p.tty == tty; });
  if (pane == panes.end() || !pane->active) return false;
  for (const auto& client : tmux::parseListing(*output).clients)
    if (client.sessionId == pane->sessionId && showsFocusedWindow(client.pid, *focused)) return true;
  return false;
}

}  // namespace tovami
