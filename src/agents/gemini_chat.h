// Gemini CLI's chat files (see integrations/gemini_peer.h): the conversation summary of the
// ".jsonl" form, read line by line, and of the older ".json" form, one document.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "agents/conversation_summary.h"
#include "agents/log_lines.h"

namespace tovami::gemini_chat {

// What a chat's header line says of its session.
struct Header {
  std::string sessionId;
  std::optional<Seconds> startedAt;  // Unix seconds
  bool operator==(const Header&) const = default;
};

// The header of a ".jsonl" chat from its first line; nothing for any other line or a damaged one.
std::optional<Header> header(std::string_view firstLine);

// Brings `summary` up to date with a chunk of a ".jsonl" chat.
void apply(const log_lines::Chunk& chunk, ConversationSummary& summary);

// The summary of a whole ".json" chat; every field absent when it does not parse.
ConversationSummary parseDocument(std::string_view text);

}  // namespace tovami::gemini_chat
