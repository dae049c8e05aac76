// The one way Tovami reaches tmux: which server an agent runs under, which pane is its, and every
// run of the tmux tool (found on PATH, one time limit). The jump, the attention check and the
// answers typed into panes all go through it. Blocking: call it off the main thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "agents/tmux_commands.h"
#include "platform/jump_environment.h"
#include "platform/processes.h"

namespace tovami {

// tmux answers a local socket: a run past this is stuck, whoever waits for it.
inline constexpr double kTmuxTimeoutSeconds = 1.0;

class TmuxServers {
 public:
  TmuxServers(ProcessLauncher& launcher, JumpEnvironment& environment);

  // The server an agent runs under, from its TMUX variable; its pane, from TMUX_PANE.
  std::optional<std::string> socketOf(int32_t pid);
  std::optional<std::string> paneIdOf(int32_t pid);
  // Every server this user can reach, `own` first.
  std::vector<std::string> reachable(const std::optional<std::string>& own);

  // Runs tmux; its output, or nothing when tmux is missing or the run failed (logged).
  std::optional<std::string> run(const std::vector<std::string>& arguments);
  // The panes and clients of one server; nothing when it cannot be asked.
  std::optional<tmux::Listing> list(const std::string& socket);

 private:
  ProcessLauncher& launcher_;
  JumpEnvironment& environment_;
};

}  // namespace tovami
