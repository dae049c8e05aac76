// What Tovami says to tmux and how it reads the answers: the arguments of each command and the
// parsing of their output. No tmux runs here (see tmux_servers.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovami::tmux {

struct Pane {
  std::string tty;
  std::string paneId;
  std::string sessionId;
  bool operator==(const Pane&) const = default;
};
struct Client {
  std::string tty;
  int32_t pid = 0;
  std::string sessionId;
  int64_t activity = 0;
  bool operator==(const Client&) const = default;
};
struct Listing {
  std::vector<Pane> panes;
  std::vector<Client> clients;
};

// A pane as the attention check lists it: its tty, its session, and whether it is the active pane
// of its session's active window.
struct ShownPane {
  std::string tty;
  std::string sessionId;
  bool active = false;
  bool operator==(const ShownPane&) const = default;
};

// A tty as tmux names it: the device path ("pts/3" -> "/dev/pts/3").
std::string devicePath(const std::string& tty);

// The socket named by a TMUX environment value ("/tmp/tmux-1000/default,1234,0").
std::optional<std::string> socketFromEnvironment(const std::string& value);

// The arguments that list every pane and every client of one server in one run.
std::vector<std::string> listingArguments(const std::string& socket);
// Its output; malformed lines are skipped.
Listing parseListing(std::string_view output);
// The pane whose tty is `tty` (a device path).
std::optional<Pane> paneWithTTY(const Listing& listing, const std::string& tty);
// The client to show the pane: one already on the pane's session, else the most recently active.
std::optional<Client> chooseClient(const Listing& listing, const Pane& pane);

// Selects the pane `paneId` (from the agent's TMUX_PANE) when its tty is `tty`, and prints it and
// the clients like the listing (nothing for a pane that is gone). Nothing for ids or paths that
// are not plain.
std::optional<std::vector<std::string>> selectKnownPaneArguments(const std::string& socket,
                                                                 const std::string& paneId,
                                                                 const std::string& tty);
// Selects the pane's window and pane, and moves `client` to it when it shows another session.
std::vector<std::string> selectArguments(const std::string& socket, const Pane& pane,
                                         const std::optional<Client>& client);
// Moves `client` to the pane.
std::vector<std::string> switchClientArguments(const std::string& socket, const Client& client,
                                               const std::string& paneId);

// One run that lists every pane with its visibility and every client (the "C" lines of
// listingArguments).
std::vector<std::string> attentionArguments(const std::string& socket);
std::vector<ShownPane> parseShownPanes(std::string_view output);

// The visible text of a pane, and a key ("Enter", "Escape") typed into it.
std::vector<std::string> captureArguments(const std::string& socket, const std::string& paneId);
std::vector<std::string> sendKeyArguments(const std::string& socket, const std::string& paneId,
                                          const std::string& key);
// True when the visible text of a pane ("capture-pane -p") ends with an agent's permission prompt:
// a numbered "1. Yes" choice beside a way to say no, among its last lines.
bool paneShowsPermissionPrompt(const std::string& text);

}  // namespace tovami::tmux
