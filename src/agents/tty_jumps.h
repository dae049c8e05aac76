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
#include "agents/tmux_servers.h"
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

class TmuxJump final : public TtyJump {
 public:
  TmuxJump(ProcessLauncher& launcher, JumpEnvironment& environment, WindowActivation& windows);
  const char* name() const override { return "tmux"; }
  bool jump(const AgentSession& session) override;

 private:
  // Moves a client to the pane (selecting it first unless `selected`) and raises its window.
  bool finish(const std::string& socket, const tmux::Pane& pane, const tmux::Listing& listing,
              const AgentSession& session, bool selected);

  TmuxServers tmux_;
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
