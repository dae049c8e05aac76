#include "agents/tty_jumps.h"

#include <charconv>
#include <cstdint>

#include "agents/accessibility_walk.h"
#include "agents/process_sampling.h"
#include "agents/process_table.h"
#include "platform/log.h"

namespace tovami {
namespace {

std::optional<int64_t> number(const std::string& text) {
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

void logJump(const std::string& message) {
  logInfo(log_categories::kAgentWatch, "jump: " + message);
}

}  // namespace

bool raiseWindowOfProcessTree(int32_t pid, const std::string& hint, JumpEnvironment& environment,
                              WindowActivation& windows) {
  const std::string needle = lowercased(hint);
  std::optional<int32_t> current = pid;
  for (int generation = 0; current && *current > 1 && generation <= kMaxApplicationWalk; ++generation) {
    const auto list = windows.windowsOf(*current);
    if (!list.empty()) {
      for (const auto& window : list)
        if (!needle.empty() && lowercased(window.title).find(needle) != std::string::npos)
          return windows.activate(window.id);
      return windows.activate(list.front().id);
    }
    current = environment.parentOf(*current);
  }
  return false;
}

TmuxJump::TmuxJump(ProcessLauncher& launcher, JumpEnvironment& environment, WindowActivation& windows)
    : tmux_(launcher, environment), environment_(environment), windows_(windows) {}

bool TmuxJump::jump(const AgentSession& session) {
  if (!session.terminalTTY || session.terminalTTY->empty()) return false;
  const std::string tty = tmux::devicePath(*session.terminalTTY);
  // The agent's own server and pane, from its environment: one tmux run selects the pane when it
  // still has the agent's tty, and reads back the pane and the clients.
  const auto ownSocket = tmux_.socketOf(session.pid);
  const auto ownPane = tmux_.paneIdOf(session.pid);
  const auto fast =
      ownSocket && ownPane ? tmux::selectKnownPaneArguments(*ownSocket, *ownPane, tty) : std::nullopt;
  if (fast) {
    if (const auto output = tmux_.run(*fast)) {
      const auto listing = tmux::parseListing(*output);
      if (listing.panes.size() == 1 && listing.panes[0].tty == tty)
        return finish(*ownSocket, listing.panes[0], listing, session, true);
    }
  }
  // Otherwise every server this user can reach, the agent's own first.
  for (const auto& socket : tmux_.reachable(ownSocket)) {
    const auto listing = tmux_.list(socket);
    if (!listing) continue;
    if (const auto pane = tmux::paneWithTTY(*listing, tty))
      return finish(socket, *pane, *listing, session, false);
  }
  return false;
}

bool TmuxJump::finish(const std::string& socket, const tmux::Pane& pane, const tmux::Listing& listing,
                      const AgentSession& session, bool selected) {
  const auto client = tmux::chooseClient(listing, pane);
  if (selected && client && client->sessionId != pane.sessionId) {
    // Only the client's move is left.
    if (!tmux_.run(tmux::switchClientArguments(socket, *client, pane.paneId))) return false;
  } else if (!selected && !tmux_.run(tmux::selectArguments(socket, pane, client))) {
    return false;
  }
  if (!client) {
    logJump("tmux pane " + pane.paneId + " selected, but no client shows its server");
    return false;
  }
  if (raiseWindowOfProcessTree(client->pid, session.projectName, environment_, windows_)) return true;
  logJump("tmux pane " + pane.paneId + " selected; no window shows its client " + client->tty);
  return false;
}

RemoteControlJump::RemoteControlJump(Terminal terminal, ProcessLauncher& launcher,
                                     JumpEnvironment& environment, WindowActivation& windows)
    : terminal_(terminal), launcher_(launcher), environment_(environment), windows_(windows) {}

std::optional<std::vector<std::string>> RemoteControlJump::arguments(int32_t agentPid) {
  if (terminal_ == Terminal::kitty) {
    const auto window = environment_.environmentVariable(agentPid, "KITTY_WINDOW_ID");
    const auto socket = environment_.environmentVariable(agentPid, "KITTY_LISTEN_ON");
    if (!window || !number(*window) || !socket || socket->empty()) return std::nullopt;
    return std::vector<std::string>{"@", "--to", *socket, "focus-window", "--match", "id:" + *window};
  }
  const auto pane = environment_.environmentVariable(agentPid, "WEZTERM_PANE");
  if (!pane || !number(*pane)) return std::nullopt;
  return std::vector<std::string>{"cli", "activate-pane", "--pane-id", *pane};
}

bool RemoteControlJump::jump(const AgentSession& session) {
  const char* expected = terminal_ == Terminal::kitty ? "kitty" : "WezTerm";
  if (session.terminalName != expected || !session.terminalPID) return false;
  const auto tool = environment_.findExecutable(terminal_ == Terminal::kitty ? "kitty" : "wezterm");
  const auto arguments = this->arguments(session.pid);
  if (!tool || !arguments) return false;
  if (!runTool(launcher_, *tool, *arguments, kJumpToolTimeoutSeconds)) return false;
  return raiseWindowOfProcessTree(*session.terminalPID, session.projectName, environment_, windows_);
}

}  // namespace tovami
