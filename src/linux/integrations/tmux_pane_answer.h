// Answers an agent that runs inside tmux by typing into its pane: the tmux server is the one
// named by the agent's own TMUX variable, the pane the one whose tty is the agent's, and only
// while the pane's visible text shows a permission prompt.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "integrations/approval_server.h"
#include "platform/processes.h"

namespace tovami::linux_backend {

// The tmux server socket in an environment block (NUL-separated "NAME=value" entries).
std::optional<std::string> tmuxSocketFromEnvironment(const std::string& environ);

// The pane id ("%3") whose tty is `tty` in `list-panes -F '#{pane_tty} #{pane_id}'` output.
std::optional<std::string> paneWithTTY(const std::string& listing, const std::string& tty);

// True when the visible text of a pane ("capture-pane -p") ends with an agent's permission prompt:
// a numbered "1. Yes" choice beside a way to say no, among its last lines.
bool paneShowsPermissionPrompt(const std::string& text);

class TmuxPaneAnswer final : public PaneAnswer {
 public:
  TmuxPaneAnswer(std::shared_ptr<ProcessLauncher> launcher, std::string procRoot = "/proc");
  Outcome sendKey(const AgentSession& session, AnswerKey key) override;

 private:
  std::shared_ptr<ProcessLauncher> launcher_;
  std::string procRoot_;
  std::string tmux_;  // empty when tmux is not installed
};

}  // namespace tovami::linux_backend
