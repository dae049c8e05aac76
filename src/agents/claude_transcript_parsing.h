// The summary of one Claude Code conversation, read from its JSON-lines transcript: the title,
// the last prompt and reply, the model and the running tool. Only the first 32 KB and the last
// 256 KB of a file are ever read, however long the conversation; a transcript that only grew
// since the last read is read from where that read ended.
#pragma once

#include <cstddef>
#include <filesystem>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "agents/conversation_summary.h"
#include "agents/log_lines.h"

namespace tovami {

// The summary type every agent's conversation shares (the name predates the other agents).
using ClaudeSessionInfo = ConversationSummary;

namespace claude_transcript {

inline constexpr std::size_t kHeadBytes = log_lines::kHeadBytes;
inline constexpr std::size_t kTailBytes = log_lines::kTailBytes;
// Every text field holds at most this many user-perceived characters.
inline constexpr std::size_t kLineCharacters = 140;

// Which reply answers which prompt. Claude Code links every record to the one it follows
// ("uuid", "parentUuid") and does not always write them in that order: a turn's reply may come
// before its prompt. Records without ids fall back to the order of the lines.
struct ReplyLinks {
  static constexpr std::size_t kMaxRecords = 4096;  // past this, forgotten: the order decides
  static constexpr std::size_t kMaxEarly = 8;
  struct Link {
    std::string parent;                 // "" at a root
    std::optional<std::string> prompt;  // the visible prompt up its chain, once known
  };
  std::unordered_map<std::string, Link> records;
  std::optional<std::string> prompt;  // the uuid of the prompt shown as youLine
  // Replies whose chain ended at a record not read yet: their prompt may still come.
  std::vector<std::pair<std::string, std::string>> early;  // (uuid, text)
};

// Where the last read of a transcript ended (see log_lines::Mark), whether its title came from a
// summary record (which a later first prompt does not replace), and the links read so far.
struct ReadMark : log_lines::Mark {
  bool titleFromSummary = false;
  ReplyLinks links;
};

// One line of at most 140 characters: line feeds and every other control character (carriage
// return, escape, bell, NUL, tab, C1 controls), the line and paragraph separators and the
// bidirectional embeddings, overrides and isolates become spaces; longer texts keep their first
// 140 characters (no ellipsis).
std::string clean(std::string_view text);

// The visible text of a message: its "content" string, or its first usable "text" item, trimmed.
// Empty texts and markup (starting with "<") do not count.
std::optional<std::string> textOf(const nlohmann::json& message);

// The last tool call of an assistant message: "Edit — notes.txt", "Bash — make test".
std::optional<std::string> toolActivity(const nlohmann::json& message);

// "claude-opus-4-7-20260101" -> "Opus 4.7"; unknown ids lose "claude-" and gain a capital.
std::string modelDisplayName(std::string_view id);

// Summarises a transcript read through `in` (a file or any seekable stream). Reads at most
// kHeadBytes + kTailBytes; an unusable stream gives every field absent. `updatedAt` stays absent.
ClaudeSessionInfo parse(std::istream& in);

// Same for a file; a file that cannot be opened gives every field absent.
ClaudeSessionInfo parse(const std::filesystem::path& url);

// Brings `summary` up to date with a chunk of its transcript (log_lines::readSince): a chunk read
// afresh replaces it, appended lines update it. Also takes the session's names ("custom-title",
// "ai-title" records).
void apply(const log_lines::Chunk& chunk, ReadMark& mark, ConversationSummary& summary);

// Reads `in` from `mark` on into `summary` (readSince, then apply).
void readInto(std::istream& in, ReadMark& mark, ConversationSummary& summary);

}  // namespace claude_transcript
}  // namespace tovami
