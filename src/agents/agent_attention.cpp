#include "agents/agent_attention.h"

#include <algorithm>
#include <sstream>

#include "agents/process_sampling.h"
#include "agents/process_table.h"
#include "agents/tty_jumps.h"

namespace tovami {

namespace tmux {

std::vector<std::string> attentionArguments(const std::string& socket) {
  auto arguments = listingArguments(socket);
  // The pane listing of the jump, with the pane's and its window's active flags.
  const auto format = std::find(arguments.begin(), arguments.end(), "P #{pane_tty} #{pane_id} #{session_id}");
  if (format != arguments.end()) *format = "A #{pane_tty} #{session_id} #{window_active}#{pane_active}";
  return arguments;
}

std::vector<ShownPane> parseShownPanes(std::string_view output) {
  std::vector<ShownPane> panes;
  std::istringstream lines{std::string(output)};
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string kind, tty, session, flags, extra;
    if (!(fields >> kind >> tty >> session >> flags) || kind != "A" || (fields >> extra) || flags.size() != 2)
      continue;
    panes.push_back({tty, session, flags == "11"});
  }
  return panes;
}

}  // namespace tmux

TerminalAttention::TerminalAttention(ProcessLauncher& launcher, JumpEnvironment& environment,
                                     WindowActivation& windows)
    : launcher_(launcher), environment_(environment), windows_(windows) {}

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
  const auto tmuxPath = environment_.findExecutable("tmux");
  const auto socket = tmux::socketFromEnvironment(*tmuxVariable);
  if (!tmuxPath || !socket) return false;
  const auto output =
      runTool(launcher_, *tmuxPath, tmux::attentionArguments(*socket), kJumpToolTimeoutSeconds);
  if (!output) return false;
  const std::string tty =
      session.terminalTTY->starts_with("/dev/") ? *session.terminalTTY : "/dev/" + *session.terminalTTY;
  const auto panes = tmux::parseShownPanes(*output);
  const auto pane = std::find_if(panes.begin(), panes.end(), [&](const auto& p) { return p.tty == tty; });
  if (pane == panes.end() || !pane->active) return false;
  for (const auto& client : tmux::parseListing(*output).clients)
    if (client.sessionId == pane->sessionId && showsFocusedWindow(client.pid, *focused)) return true;
  return false;
}

}  // namespace tovami
