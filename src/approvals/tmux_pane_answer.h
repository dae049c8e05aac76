// Answers an agent that runs inside tmux by typing into its pane: the tmux server is the one
// named by the agent's own TMUX variable, the pane the one whose tty is the agent's, and only
// while the pane's visible text shows a permission prompt.
#pragma once

#include <memory>

#include "agents/tmux_servers.h"
#include "approvals/approval_server.h"

namespace tovami {

class TmuxPaneAnswer final : public PaneAnswer {
 public:
  TmuxPaneAnswer(std::shared_ptr<ProcessLauncher> launcher, std::shared_ptr<JumpEnvironment> environment);
  Outcome sendKey(const AgentSession& session, AnswerKey key) override;

 private:
  std::shared_ptr<ProcessLauncher> launcher_;
  std::shared_ptr<JumpEnvironment> environment_;
  TmuxServers tmux_;
};

}  // namespace tovami
