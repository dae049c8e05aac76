// The folder-wide lookup of Claude Code conversations: the newest transcript of a project. The
// agent watcher now binds each process to its own session (agents/agent_logs.h); this lookup is
// the baseline of bench/agent_scan_bench.cpp and what bench/transcript_bench.cpp measures.
//
// How to use it:
//   - Own one ClaudeSessionReader for the life of the watcher, built from
//     ClaudeCodeLocations::fromEnvironment(processEnvironment()) (tests pass their own folders).
//   - Call read(agent's working directory) on the watcher's serial queue
//     ("app.tovami.agentwatch"), once per Claude Code agent per scan. The reader holds a cache
//     and no lock: never call it from two threads.
//   - Nothing means the project has no transcript. Otherwise every field may be absent;
//     `updatedAt` is the transcript's modification time in Unix seconds, comparable with
//     Clock::now(), and is the sign that the agent wrote to it recently.
//   - Cost: an unchanged transcript costs the folder listing, a stat per transcript in it and a
//     map lookup (about 15 us of CPU with one transcript in the folder, 60 us with twenty); one
//     that grew reads and parses only the lines appended since the last read; a new, replaced or
//     shrunk one reads at most 32 KB + 256 KB and parses those lines (about 2 ms of CPU for a
//     1 MB conversation; see bench/transcript_bench.cpp). It never logs and never throws for
//     bad files.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <unordered_map>

#include "agents/claude_transcript_parsing.h"
#include "peers/claude_code_peer.h"

namespace tovami {

class ClaudeSessionReader {
 public:
  using Info = ClaudeSessionInfo;

  explicit ClaudeSessionReader(claude_code::ClaudeCodeLocations locations);

  // The summary of the newest transcript of the project at `projectPath` that can be opened (the
  // string is also the cache key). Fields that the lines read do not set keep the values seen
  // before for the same project.
  std::optional<Info> read(const std::string& projectPath);

  const claude_code::ClaudeCodeLocations& locations() const { return locations_; }

 private:
  struct CacheEntry {
    std::filesystem::path file;
    std::optional<std::filesystem::file_time_type> modified;
    claude_transcript::ReadMark mark;
    Info info;
  };

  claude_code::ClaudeCodeLocations locations_;
  std::unordered_map<std::string, CacheEntry> cache_;  // one entry per project path, never removed
};

}  // namespace tovami
