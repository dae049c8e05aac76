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

#include <nlohmann/json.hpp>

#include "platform/scheduler.h"

namespace tovami {

struct ClaudeSessionInfo {
  std::optional<std::string> title;         // first summary near the start, else the first prompt
  std::optional<std::string> youLine;       // the user's most recent prompt
  std::optional<std::string> replyLine;     // the assistant's most recent text, if after that prompt
  std::optional<std::string> modelName;     // display name of the latest assistant record's model
  std::optional<std::string> activityLine;  // the latest tool call: name " — " target
  std::optional<Seconds> updatedAt;         // the transcript's modification time (Unix seconds)

  bool operator==(const ClaudeSessionInfo&) const = default;
};

namespace claude_transcript {

inline constexpr std::size_t kHeadBytes = 32768;
inline constexpr std::size_t kTailBytes = 262144;
// Every text field holds at most this many user-perceived characters.
inline constexpr std::size_t kLineCharacters = 140;

// Where the last read of a transcript ended, so that the next read can take only what was
// appended. The bytes just before the offset tell a file that grew from one that was replaced.
struct ReadMark {
  std::uint64_t offset = 0;  // just past the last complete line read; 0: nothing read yet
  std::string anchor;        // the (at most kAnchorBytes) bytes before `offset`
  bool titleFromSummary = false;
};
inline constexpr std::size_t kAnchorBytes = 64;

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

// Reads `in` from `mark` on when it still holds the bytes read before and grew by at most
// kTailBytes; else summarises it afresh as parse does. Gives the fields the lines read set (a
// title only from a summary, or from the first prompt when `titleKnown` is false) and moves `mark`
// to the end of the last complete line.
ClaudeSessionInfo parseSince(std::istream& in, ReadMark& mark, bool titleKnown);

}  // namespace claude_transcript
}  // namespace tovami
