#include "approvals/tmux_pane_answer.h"

namespace tovami {

TmuxPaneAnswer::TmuxPaneAnswer(std::shared_ptr<ProcessLauncher> launcher,
                               std::shared_ptr<JumpEnvironment> environment)
    : launcher_(std::move(launcher)),
      environment_(std::move(environment)),
      tmux_(*launcher_, *environment_) {}

PaneAnswer::Outcome TmuxPaneAnswer::sendKey(const AgentSession& session, AnswerKey key) {
  if (!session.terminalTTY || session.terminalTTY->empty() || session.pid <= 0) return Outcome::notInPane;
  const auto socket = tmux_.socketOf(session.pid);
  if (!socket) return Outcome::notInPane;
  const auto listing = tmux_.list(*socket);
  const auto pane =
      listing ? tmux::paneWithTTY(*listing, tmux::devicePath(*session.terminalTTY)) : std::nullopt;
  if (!pane) return Outcome::notInPane;
  // The prompt may have been answered in the pane since the card appeared: look before typing.
  const auto visible = tmux_.run(tmux::captureArguments(*socket, pane->paneId));
  if (!visible) return Outcome::failed;
  if (!tmux::paneShowsPermissionPrompt(*visible)) return Outcome::noPrompt;
  const auto sent = tmux_.run(
      tmux::sendKeyArguments(*socket, pane->paneId, key == AnswerKey::returnKey ? "Enter" : "Escape"));
  return sent ? Outcome::sent : Outcome::failed;
}

}  // namespace tovami
