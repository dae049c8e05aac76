#include "linux/jump/ewmh_answer_windows.h"

#include "integrations/session_window.h"

namespace tovami::linux_backend {

std::optional<uint64_t> EwmhAnswerWindows::windowShowing(const AgentSession& session) {
  if (!session.terminalPID) return std::nullopt;
  return sessionWindowAmong(windows_.windowsOf(*session.terminalPID), session);
}

}  // namespace tovami::linux_backend
