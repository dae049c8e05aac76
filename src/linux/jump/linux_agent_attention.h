// "Is the user looking at this agent?" on Linux/X11: the focused window through EWMH, tmux panes
// and clients through the tmux the agent runs under, ancestors through /proc.
#pragma once

#include "agents/agent_attention.h"
#include "linux/agents/process_runner.h"
#include "linux/jump/ewmh_window_activation.h"
#include "linux/jump/proc_jump_environment.h"

namespace tovami::linux_backend {

class LinuxAgentAttention final : public AgentAttention {
 public:
  LinuxAgentAttention() : attention_(launcher_, environment_, windows_) {}
  bool userIsLookingAt(const AgentSession& session) override { return attention_.userIsLookingAt(session); }

 private:
  PosixProcessLauncher launcher_;
  ProcJumpEnvironment environment_;
  EwmhWindowActivation windows_;
  TerminalAttention attention_;
};

}  // namespace tovami::linux_backend
