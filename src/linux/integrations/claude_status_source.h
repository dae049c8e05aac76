// The approval server's view of Claude Code's status files: the status of a pid, checked against
// the process's start time so that a file outliving its session (a reused pid) is not believed.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "agents/claude_session_status.h"

namespace tovami::linux_backend {

// Field 22 of /proc/<pid>/stat (start time in clock ticks); nothing when the process is gone.
std::optional<uint64_t> processStartTicks(int32_t pid, const std::string& procRoot = "/proc");

// A reader of one owner: call it from one thread (the approvals queue) only.
std::function<std::optional<ClaudeSessionStatus>(int32_t pid)> claudeStatusSource(
    claude_code::ClaudeCodeLocations locations);

}  // namespace tovami::linux_backend
