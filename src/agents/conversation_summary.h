// What the island and the tray show of one agent's conversation, whichever agent wrote it.
#pragma once

#include <optional>
#include <string>

#include "agents/log_lines.h"
#include "platform/scheduler.h"

namespace tovami {

struct ConversationSummary {
  std::optional<std::string> title;         // first summary near the start, else the first prompt
  std::optional<std::string> youLine;       // the user's most recent prompt
  std::optional<std::string> replyLine;     // the agent's most recent text, if after that prompt
  std::optional<std::string> modelName;     // display name of the model of the latest reply
  std::optional<std::string> activityLine;  // the latest tool call: name " — " target
  std::optional<Seconds> updatedAt;         // the log's modification time (Unix seconds)
  // The session's names where the agent keeps them (Claude Code): set by the user, or generated.
  std::optional<std::string> customTitle;
  std::optional<std::string> generatedTitle;

  bool operator==(const ConversationSummary&) const = default;
};

// After a log was read afresh (replaced, shrunk, or past its budgets): what the new read did not
// find keeps the value seen before, so that a rewritten or damaged log does not blank the row.
inline void keepEarlierValues(ConversationSummary& summary, const ConversationSummary& before) {
  for (auto field :
       {&ConversationSummary::title, &ConversationSummary::youLine, &ConversationSummary::replyLine,
        &ConversationSummary::modelName, &ConversationSummary::activityLine,
        &ConversationSummary::customTitle, &ConversationSummary::generatedTitle})
    if (!(summary.*field)) summary.*field = before.*field;
}

// Applies a chunk of a log whose records each stand alone (Codex rollouts, Gemini CLI chats):
// `applyRecord(record, summary)` for every whole JSON line. A log read afresh starts over from its
// head (the first prompt may sit there, before the tail), keeping only the head's title, and then
// keeps the earlier values the new read did not find.
template <typename ApplyRecord>
void applyRecordChunk(const log_lines::Chunk& chunk, ConversationSummary& summary, ApplyRecord applyRecord) {
  const ConversationSummary before = summary;
  if (chunk.afresh) {
    summary = {};
    if (chunk.textOffset > 0)
      for (const auto& record : log_lines::objectsIn(chunk.head)) applyRecord(record, summary);
    summary.youLine.reset();
    summary.replyLine.reset();
    summary.activityLine.reset();
  }
  for (const auto& record : log_lines::objectsIn(chunk.text, chunk.afresh && chunk.textStartsMidLine))
    applyRecord(record, summary);
  if (chunk.afresh) keepEarlierValues(summary, before);
}

}  // namespace tovami
