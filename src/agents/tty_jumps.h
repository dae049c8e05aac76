// The tty-precise strategies: they find the agent's own pane in a terminal multiplexer or in a
// terminal with remote control, select it, and raise the window that shows it. Each one runs
// external tools (blocking, bounded by time-outs): call them off the main thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agents/agent_session.h"
#include "platform/jump_environment.h"
#include "platform/processes.h"
#include "platform/window_activation.h"

namespace tovami {

inline constexpr double kJumpToolTimeoutSeconds = 1.0;

class TtyJump {
 public:
  virtual ~TtyJump() = default;
  virtual const char* name() const = 0;
  // True when the agent's pane was selected and its window brought forward.
  virtual bool jump(const AgentSession& session) = 0;
};

// Brings forward a window of the first of `pid` and its nearest ancestors (at most 10) that owns
// one: the window whose title mentions `hint`, else its first window.
bool raiseWindowOfProcessTree(int32_t pid, const std::string& hint, JumpEnvironment& environment,
                              WindowActivation& windows);

namespace tmux {

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

// The arguments that list every pane and every client of one server in one run.
std::vector<std::string> listingArguments(const std::string& socket);
// Its output; malformed lines are skipped.
Listing parseListing(std::string_view output);
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
// The socket named by a TMUX environment value ("/tmp/tmux-1000/default,1234,0").
std::optional<std::string> socketFromEnvironment(const std::string& value);

}  // namespace tmux

class TmuxJump final : public TtyJump {
 public:
  TmuxJump(ProcessLauncher& launcher, JumpEnvironment& environment, WindowActivation& windows);
  const char* name() const override { return "tmux"; }
  bool jump(const AgentSession& session) override;

 private:
  // Moves a client to the pane (selecting it first unless `selected`) and raises its window.
  bool finish(const std::string& tmuxPath, const std::string& socket, const tmux::Pane& pane,
              const tmux::Listing& listing, const AgentSession& session, bool selected);

  ProcessLauncher& launcher_;
  JumpEnvironment& environment_;
  WindowActivation& windows_;
};

// kitty's remote control ("kitty @ focus-window") and WezTerm's ("wezterm cli activate-pane"),
// for agents whose terminal is one of them and whose environment names its window or pane.
class RemoteControlJump final : public TtyJump {
 public:
  enum class Terminal { kitty, wezterm };
  RemoteControlJump(Terminal terminal, ProcessLauncher& launcher, JumpEnvironment& environment,
                    WindowActivation& windows);
  const char* name() const override { return terminal_ == Terminal::kitty ? "kitty" : "WezTerm"; }
  bool jump(const AgentSession& session) override;
  // The tool's arguments for the agent, or nothing when its environment lacks what they need.
  std::optional<std::vector<std::string>> arguments(int32_t agentPid);

 private:
  Terminal terminal_;
  ProcessLauncher& launcher_;
  JumpEnvironment& environment_;
  WindowActivation& windows_;
};

}  // namespace tovami
