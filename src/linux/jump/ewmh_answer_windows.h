// The approval server's window check on X11: the windows of the agent's terminal process and the
// active window, both from the window manager (EWMH).
#pragma once

#include "approvals/approval_server.h"
#include "linux/jump/ewmh_window_activation.h"

namespace tovami::linux_backend {

class EwmhAnswerWindows final : public AnswerWindows {
 public:
  explicit EwmhAnswerWindows(EwmhWindowActivation& windows) : windows_(windows) {}
  std::optional<uint64_t> windowShowing(const AgentSession& session) override;
  std::optional<uint64_t> activeWindow() override { return windows_.activeWindow(); }
  bool showsSession(const AgentSession& session, uint64_t window) override;

 private:
  EwmhWindowActivation& windows_;
};

}  // namespace tovami::linux_backend
