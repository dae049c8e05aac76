// One agent's conversation log, followed from read to read: an unchanged file costs one stat, a
// grown one the appended lines, a new, replaced or shrunk one at most the head and tail budgets
// of log_lines. Only regular files are opened (a FIFO or a device never blocks a scan); a line
// that does not parse is skipped. Not thread-safe: one owner, one thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "agents/claude_transcript_parsing.h"
#include "agents/conversation_summary.h"

namespace tovami {

enum class ConversationFormat { claudeCode, codex, gemini };

class ConversationLog {
 public:
  ConversationLog(std::filesystem::path path, ConversationFormat format);

  // The summary as of now; nothing when the file is gone, not a regular file or unreadable.
  std::optional<ConversationSummary> read();
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  ConversationFormat format_;
  bool document_;  // Gemini's ".json" form: one object, read whole
  std::optional<std::uintmax_t> size_;
  std::filesystem::file_time_type modified_;
  claude_transcript::ReadMark mark_;
  ConversationSummary summary_;
};

// Unix seconds of a file time.
Seconds unixSeconds(std::filesystem::file_time_type time);

}  // namespace tovami
