// The transcript lookup the agent watcher and "--list-agents" share: Claude Code's own files
// under the locations its environment names.
#pragma once

#include <memory>

#include "agents/agent_watcher.h"
#include "agents/claude_session_reader.h"

namespace tovami::linux_backend {

inline TranscriptLookup transcriptLookup() {
  auto reader = std::make_shared<ClaudeSessionReader>(
      claude_code::ClaudeCodeLocations::fromEnvironment(claude_code::processEnvironment()));
  return [reader](const std::string& projectPath) { return reader->read(projectPath); };
}

}  // namespace tovami::linux_backend
