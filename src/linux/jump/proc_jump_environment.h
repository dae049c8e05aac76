// Process facts for the tty-precise jumps, read from /proc; tmux sockets from the folder tmux
// itself uses ($TMUX_TMPDIR or /tmp, then tmux-<uid>).
#pragma once

#include <string>

#include "platform/jump_environment.h"

namespace tovami::linux_backend {

class ProcJumpEnvironment final : public JumpEnvironment {
 public:
  explicit ProcJumpEnvironment(std::string procRoot = "/proc") : procRoot_(std::move(procRoot)) {}
  std::optional<std::string> environmentVariable(int32_t pid, const std::string& name) override;
  std::optional<int32_t> parentOf(int32_t pid) override;
  std::optional<std::string> executableName(int32_t pid) override;
  std::vector<std::string> tmuxSockets() override;
  std::optional<std::string> findExecutable(const std::string& name) override;

 private:
  std::string procRoot_;
};

}  // namespace tovami::linux_backend
