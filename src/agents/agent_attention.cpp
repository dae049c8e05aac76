#include "agents/agent_attention.h"

#include <algorithm>
#include <charconv>

#include "agents/process_sampling.h"
#include "agents/process_table.h"
#include "agents/terminal_resolution.h"
#include "agents/tty_jumps.h"
#include "peers/json_bounds.h"
#include "agents/session_window.h"

namespace tovami {
namespace {

std::optional<int64_t> integer(std::string_view text) {
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<int64_t> integerField(const nlohmann::json& object, const char* name) {
  const auto it = object.find(name);
  if (it == object.end() || !it->is_number_integer()) return std::nullopt;
  return it->get<int64_t>();
}

// A tab or window of kitty's listing that is the current one of its parent. Older kittys only
// say "is_focused" (current and in the focused OS window).
bool isCurrent(const nlohmann::json& object) {
  for (const char* name : {"is_active", "is_focused"})
    if (const auto it = object.find(name); it != object.end() && it->is_boolean()) return it->get<bool>();
  return false;
}

// kitty's "ls": whether its window `windowId` is the current window of the current tab of the OS
// window `focused`. Nothing when the text is not a listing or does not hold the window.
std::optional<bool> kittyShows(std::string_view text, int64_t windowId, uint64_t focused) {
  const auto listing = json_bounds::parse(text);
  if (!listing.is_array()) return std::nullopt;
  for (const auto& osWindow : listing) {
    const auto tabs = osWindow.is_object() ? osWindow.find("tabs") : osWindow.end();
    if (tabs == osWindow.end() || !tabs->is_array()) continue;
    for (const auto& tab : *tabs) {
      const auto windows = tab.is_object() ? tab.find("windows") : tab.end();
      if (windows == tab.end() || !windows->is_array()) continue;
      for (const auto& window : *windows) {
        if (!window.is_object() || integerField(window, "id") != windowId) continue;
        const auto platform = integerField(osWindow, "platform_window_id");
        const bool osWindowFocused =
            platform ? *platform >= 0 && static_cast<uint64_t>(*platform) == focused : isCurrent(osWindow);
        return osWindowFocused && isCurrent(tab) && isCurrent(window);
      }
    }
  }
  return std::nullopt;
}

// WezTerm's "cli list-clients": whether the client `guiPid` (the program owning the focused
// window) has the pane `paneId` focused. Nothing when that client is not listed.
std::optional<bool> weztermShows(std::string_view text, int64_t paneId, int32_t guiPid) {
  const auto clients = json_bounds::parse(text);
  if (!clients.is_array()) return std::nullopt;
  for (const auto& client : clients)
    if (client.is_object() && integerField(client, "pid") == guiPid)
      return integerField(client, "focused_pane_id") == paneId;
  return std::nullopt;
}

}  // namespace

TerminalAttention::TerminalAttention(ProcessLauncher& launcher, JumpEnvironment& environment,
                                     WindowActivation& windows)
    : tmux_(launcher, environment), launcher_(launcher), environment_(environment), windows_(windows) {}

bool TerminalAttention::ownsFocusedWindow(int32_t pid, int32_t focused) {
  std::optional<int32_t> current = pid;
  for (int generation = 0; current && *current > 1 && generation <= kMaxApplicationWalk; ++generation) {
    if (*current == focused) return true;
    current = environment_.parentOf(*current);
  }
  return false;
}

std::optional<bool> TerminalAttention::remoteControlShows(int32_t viewer, const TopLevelWindow& focused,
                                                          const std::optional<std::string>& terminalName) {
  if (terminalName == "kitty") {
    const auto window = environment_.environmentVariable(viewer, "KITTY_WINDOW_ID");
    const auto socket = environment_.environmentVariable(viewer, "KITTY_LISTEN_ON");
    const auto id = window ? integer(*window) : std::nullopt;
    const auto tool = environment_.findExecutable("kitty");
    if (!id || !socket || socket->empty() || !tool) return std::nullopt;
    const auto output = runTool(launcher_, *tool, {"@", "--to", *socket, "ls", "--match", "id:" + *window},
                                kJumpToolTimeoutSeconds);
    return output ? kittyShows(*output, *id, focused.id) : std::nullopt;
  }
  if (terminalName == "WezTerm") {
    const auto pane = environment_.environmentVariable(viewer, "WEZTERM_PANE");
    const auto id = pane ? integer(*pane) : std::nullopt;
    const auto tool = environment_.findExecutable("wezterm");
    if (!id || !tool) return std::nullopt;
    const auto output =
        runTool(launcher_, *tool, {"cli", "list-clients", "--format", "json"}, kJumpToolTimeoutSeconds);
    return output ? weztermShows(*output, *id, focused.pid) : std::nullopt;
  }
  return std::nullopt;
}

bool TerminalAttention::showsViewer(int32_t viewer, const TopLevelWindow& focused,
                                    const AgentSession& session, std::optional<std::string> terminalName) {
  if (!ownsFocusedWindow(viewer, focused.pid)) return false;
  if (!terminalName)
    if (const auto executable = environment_.executableName(focused.pid))
      if (const auto* app = terminalAppFor(*executable)) terminalName = app->terminalName;
  if (const auto told = remoteControlShows(viewer, focused, terminalName)) return *told;
  // Otherwise the window must be the one of its process that shows the session, and show it now.
  AgentSession shown = session;
  shown.terminalName = terminalName;
  return sessionWindowAmong(windows_.windowsOf(focused.pid), shown) == focused.id &&
         windowShowsSession(focused, shown);
}

bool TerminalAttention::userIsLookingAt(const AgentSession& session) {
  const auto focused = windows_.focusedWindow();
  if (!focused || focused->pid <= 0) return false;
  const auto tmuxVariable = environment_.environmentVariable(session.pid, "TMUX");
  if (!tmuxVariable) {
    // Not in tmux: the agent's own terminal window (the terminal is its ancestor).
    return showsViewer(session.pid, *focused, session, session.terminalName);
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
  // The client's terminal is not the agent's (that is tmux): it is named by its own executable.
  for (const auto& client : tmux::parseListing(*output).clients)
    if (client.sessionId == pane->sessionId && showsViewer(client.pid, *focused, session, std::nullopt))
      return true;
  return false;
}

}  // namespace tovami
