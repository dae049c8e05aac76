#include "agents/tty_jumps.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <sstream>

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

std::string devicePath(const std::string& tty) {
  return tty.starts_with("/dev/") ? tty : "/dev/" + tty;
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

namespace tmux {

std::vector<std::string> listingArguments(const std::string& socket) {
  return {"-S",         socket,
          "list-panes", "-a",
          "-F",         "P #{pane_tty} #{pane_id} #{session_id}",
          ";",          "list-clients",
          "-F",         "C #{client_tty} #{client_pid} #{session_id} #{client_activity}"};
}

Listing parseListing(std::string_view output) {
  Listing listing;
  std::istringstream lines{std::string(output)};
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string kind, a, b, c, d, extra;
    fields >> kind >> a >> b >> c;
    if (kind == "P" && !c.empty() && !(fields >> extra)) {
      listing.panes.push_back({a, b, c});
    } else if (kind == "C" && (fields >> d) && !(fields >> extra)) {
      const auto pid = number(b);
      const auto activity = number(d);
      if (pid && *pid > 0 && *pid <= INT32_MAX && activity)
        listing.clients.push_back({a, static_cast<int32_t>(*pid), c, *activity});
    }
  }
  return listing;
}

std::optional<Client> chooseClient(const Listing& listing, const Pane& pane) {
  std::optional<Client> best;
  for (const auto& client : listing.clients) {
    const bool onSession = client.sessionId == pane.sessionId;
    const bool bestOnSession = best && best->sessionId == pane.sessionId;
    if (!best || (onSession && !bestOnSession) ||
        (onSession == bestOnSession && client.activity > best->activity))
      best = client;
  }
  return best;
}

std::optional<std::vector<std::string>> selectKnownPaneArguments(const std::string& socket,
                                                                 const std::string& paneId,
                                                                 const std::string& tty) {
  // Both go into tmux's own command and format language: plain pane ids and device paths only.
  const auto plain = [](const std::string& text, std::string_view allowed) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [allowed](char c) {
      return std::isalnum(static_cast<unsigned char>(c)) || allowed.find(c) != std::string_view::npos;
    });
  };
  if (!paneId.starts_with('%') || !plain(paneId.substr(1), "") || !plain(tty, "/_-.")) return std::nullopt;
  std::vector<std::string> arguments{"-S",
                                     socket,
                                     "if-shell",
                                     "-F",
                                     "-t",
                                     paneId,
                                     "#{==:#{pane_tty}," + tty + "}",
                                     "select-window -t " + paneId + " ; select-pane -t " + paneId,
                                     ";",
                                     "display",
                                     "-p",
                                     "-t",
                                     paneId,
                                     "P #{pane_tty} #{pane_id} #{session_id}",
                                     ";"};
  const auto listing = listingArguments(socket);
  arguments.insert(arguments.end(), listing.end() - 3, listing.end());
  return arguments;
}

std::vector<std::string> selectArguments(const std::string& socket, const Pane& pane,
                                         const std::optional<Client>& client) {
  std::vector<std::string> arguments{"-S",          socket, "select-window", "-t", pane.paneId, ";",
                                     "select-pane", "-t",   pane.paneId};
  if (client && client->sessionId != pane.sessionId)
    arguments.insert(arguments.end(), {";", "switch-client", "-c", client->tty, "-t", pane.paneId});
  return arguments;
}

std::optional<std::string> socketFromEnvironment(const std::string& value) {
  const std::string socket = value.substr(0, value.find(','));
  if (socket.empty() || socket.front() != '/') return std::nullopt;
  return socket;
}

}  // namespace tmux

TmuxJump::TmuxJump(ProcessLauncher& launcher, JumpEnvironment& environment, WindowActivation& windows)
    : launcher_(launcher), environment_(environment), windows_(windows) {}

bool TmuxJump::jump(const AgentSession& session) {
  if (!session.terminalTTY || session.terminalTTY->empty()) return false;
  const auto tmuxPath = environment_.findExecutable("tmux");
  if (!tmuxPath) return false;
  const std::string tty = devicePath(*session.terminalTTY);
  // The agent's own server and pane, from its environment: one tmux run selects the pane when it
  // still has the agent's tty, and reads back the pane and the clients.
  std::optional<std::string> ownSocket;
  if (auto variable = environment_.environmentVariable(session.pid, "TMUX"))
    ownSocket = tmux::socketFromEnvironment(*variable);
  const auto ownPane = environment_.environmentVariable(session.pid, "TMUX_PANE");
  const auto fast =
      ownSocket && ownPane ? tmux::selectKnownPaneArguments(*ownSocket, *ownPane, tty) : std::nullopt;
  if (fast) {
    if (const auto output = runTool(launcher_, *tmuxPath, *fast, kJumpToolTimeoutSeconds)) {
      const auto listing = tmux::parseListing(*output);
      if (listing.panes.size() == 1 && listing.panes[0].tty == tty)
        return finish(*tmuxPath, *ownSocket, listing.panes[0], listing, session, true);
    }
  }
  // Otherwise every server this user can reach, the agent's own first.
  std::vector<std::string> sockets;
  if (ownSocket) sockets.push_back(*ownSocket);
  for (auto& socket : environment_.tmuxSockets())
    if (std::find(sockets.begin(), sockets.end(), socket) == sockets.end())
      sockets.push_back(std::move(socket));
  for (const auto& socket : sockets) {
    const auto output =
        runTool(launcher_, *tmuxPath, tmux::listingArguments(socket), kJumpToolTimeoutSeconds);
    if (!output) continue;
    const auto listing = tmux::parseListing(*output);
    for (const auto& pane : listing.panes)
      if (pane.tty == tty) return finish(*tmuxPath, socket, pane, listing, session, false);
  }
  return false;
}

bool TmuxJump::finish(const std::string& tmuxPath, const std::string& socket, const tmux::Pane& pane,
                      const tmux::Listing& listing, const AgentSession& session, bool selected) {
  const auto client = tmux::chooseClient(listing, pane);
  const auto arguments = tmux::selectArguments(socket, pane, client);
  if (selected && client && client->sessionId != pane.sessionId) {
    // Only the client's move is left.
    if (!runTool(launcher_, tmuxPath, {"-S", socket, "switch-client", "-c", client->tty, "-t", pane.paneId},
                 kJumpToolTimeoutSeconds))
      return false;
  } else if (!selected && !runTool(launcher_, tmuxPath, arguments, kJumpToolTimeoutSeconds)) {
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
