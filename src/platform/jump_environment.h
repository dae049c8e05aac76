// What the tty-precise jump strategies ask of the system about processes and tools.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tovami {

class JumpEnvironment {
 public:
  virtual ~JumpEnvironment() = default;
  // One variable of a process's environment (as it was started); nothing when unreadable.
  virtual std::optional<std::string> environmentVariable(int32_t pid, const std::string& name) = 0;
  virtual std::optional<int32_t> parentOf(int32_t pid) = 0;
  // The process's executable name as the system keeps it (possibly cut short); nothing when unreadable.
  virtual std::optional<std::string> executableName(int32_t pid) = 0;
  // The sockets of the tmux servers this user may reach (the default socket folder).
  virtual std::vector<std::string> tmuxSockets() = 0;
  // The absolute path of an executable found on PATH.
  virtual std::optional<std::string> findExecutable(const std::string& name) = 0;
};

}  // namespace tovami
