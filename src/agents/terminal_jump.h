// Bringing an agent's terminal (window, tab or tmux pane) to the front.
#pragma once

#include "agents/agent_session.h"

namespace tovami {

class TerminalJump {
 public:
  virtual ~TerminalJump() = default;
  // Main thread. Does nothing visible when the terminal cannot be found.
  virtual void jump(const AgentSession& session) = 0;
};

}  // namespace tovami
