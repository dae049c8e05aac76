// Claude Code's live status file, <config root>/sessions/<pid>.json: recent versions keep one per
// interactive session and rewrite it at every change (idle, busy, waiting for a permission prompt),
// and delete it at exit. Undocumented: an absent, foreign or malformed file means "not available",
// never an error, and every field but the session id may be missing.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "peers/claude_code_peer.h"

namespace tovami {

struct ClaudeSessionStatus {
  enum class State { unknown, idle, busy, waiting, shell };

  int32_t pid = 0;
  std::string sessionId;  // equals the hooks' "session_id"
  std::optional<std::string> cwd;
  std::optional<std::string> name;  // the session's name as Claude Code shows it
  State state = State::unknown;     // unknown: a version that writes no status, or a new word
  std::optional<std::string> waitingFor;  // "permission prompt", "input needed", …
  std::optional<double> updatedAt;        // Unix seconds of the last status change

  bool waitingForPermission() const { return state == State::waiting && waitingFor == "permission prompt"; }
  bool operator==(const ClaudeSessionStatus&) const = default;
};

// Files larger than this are not Claude Code's and are not read.
inline constexpr std::size_t kSessionStatusMaxBytes = 64 * 1024;

// The status in `text` for the process `pid`. Nothing when the text is not a JSON object with a
// session id, names another pid, or carries a "procStart" that differs from `processStart` (field
// 22 of /proc/<pid>/stat): the file of an ended session whose pid was reused.
std::optional<ClaudeSessionStatus> parseClaudeSessionStatus(std::string_view text, int32_t pid,
                                                            std::optional<uint64_t> processStart);

// Reads status files with a cache: an unchanged file (same size and modification time) costs one
// stat and is not parsed again. Only regular files are opened, so a FIFO or a device never blocks.
// Not thread-safe: one owner, one thread.
class ClaudeSessionStatusReader {
 public:
  explicit ClaudeSessionStatusReader(claude_code::ClaudeCodeLocations locations);

  std::optional<ClaudeSessionStatus> read(int32_t pid, std::optional<uint64_t> processStart);
  // Drops cache entries of pids not read since the last call (call once per scan).
  void forgetUnread();

 private:
  struct Entry {
    std::uintmax_t size = 0;
    std::filesystem::file_time_type modified;
    std::optional<uint64_t> processStart;
    std::optional<ClaudeSessionStatus> status;
    bool touched = true;
  };
  claude_code::ClaudeCodeLocations locations_;
  std::unordered_map<int32_t, Entry> cache_;
};

}  // namespace tovami
