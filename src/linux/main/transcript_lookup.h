// The conversation logs the agent watcher and "--list-agents" share: Claude Code's, Codex's and
// Gemini CLI's own files under the locations this process's environment names.
#pragma once

#include <memory>

#include "agents/agent_logs.h"

namespace tovami::linux_backend {

inline std::shared_ptr<AgentLogs> agentLogs() {
  return std::make_shared<AgentLogReader>(
      AgentLogLocations::fromEnvironment(claude_code::processEnvironment()));
}

}  // namespace tovami::linux_backend
