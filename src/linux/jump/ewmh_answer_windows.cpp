#include "linux/jump/ewmh_answer_windows.h"

#include "agents/session_window.h"

namespace tovami::linux_backend {

std::optional<uint64_t> EwmhAnswerWindows::windowShowing(const AgentSession& session) {
  if (!session.terminalPID) return std::nullopt;
  return sessionWindowAmong(windows_.windowsOf(*session.terminalPID), session);
}

bool EwmhAnswerWindows::showsSession(const AgentSession& session, uint64_t window) {
  if (!session.terminalPID) return false;
  for (const auto& shown : windows_.windowsOf(*session.terminalPID))
    if (shown.id == window) return windowShowsSession(shown, session);
  return false;
}

}  // namespace tovami::linux_backend
