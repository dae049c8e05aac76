#include "agents/tmux_commands.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <sstream>

namespace tovami::tmux {
namespace {

constexpr const char* kPaneFormat = "P #{pane_tty} #{pane_id} #{session_id}";

std::optional<int64_t> number(const std::string& text) {
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

std::string devicePath(const std::string& tty) {
  return tty.starts_with("/dev/") ? tty : "/dev/" + tty;
}

std::optional<std::string> socketFromEnvironment(const std::string& value) {
  const std::string socket = value.substr(0, value.find(','));
  if (socket.empty() || socket.front() != '/') return std::nullopt;
  return socket;
}

std::vector<std::string> listingArguments(const std::string& socket) {
  return {"-S",         socket,
          "list-panes", "-a",
          "-F",         kPaneFormat,
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

std::optional<Pane> paneWithTTY(const Listing& listing, const std::string& tty) {
  for (const auto& pane : listing.panes)
    if (pane.tty == tty) return pane;
  return std::nullopt;
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
                                     kPaneFormat,
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

std::vector<std::string> switchClientArguments(const std::string& socket, const Client& client,
                                               const std::string& paneId) {
  return {"-S", socket, "switch-client", "-c", client.tty, "-t", paneId};
}

std::vector<std::string> attentionArguments(const std::string& socket) {
  auto arguments = listingArguments(socket);
  // The pane listing of the jump, with the pane's and its window's active flags.
  const auto format = std::find(arguments.begin(), arguments.end(), kPaneFormat);
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

std::vector<std::string> captureArguments(const std::string& socket, const std::string& paneId) {
  return {"-S", socket, "capture-pane", "-p", "-t", paneId};
}

std::vector<std::string> sendKeyArguments(const std::string& socket, const std::string& paneId,
                                          const std::string& key) {
  return {"-S", socket, "send-keys", "-t", paneId, key};
}

bool paneShowsPermissionPrompt(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);)
    if (line.find_first_not_of(" \t\r") != std::string::npos) lines.push_back(line);
  // The prompt sits at the bottom of the screen; an old one scrolled up does not count.
  const size_t first = lines.size() > 14 ? lines.size() - 14 : 0;
  bool yes = false, no = false;
  for (size_t i = first; i < lines.size(); ++i) {
    const auto& line = lines[i];
    yes = yes || line.find("1. Yes") != std::string::npos;
    no = no || line.find(". No") != std::string::npos || line.find("Esc to cancel") != std::string::npos;
  }
  return yes && no;
}

}  // namespace tovami::tmux
