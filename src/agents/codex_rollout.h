// Codex CLI's session logs ("rollouts", see integrations/codex_peer.h): the session a log belongs
// to, and the conversation summary its lines give.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "agents/conversation_summary.h"
#include "agents/log_lines.h"

namespace tovami::codex_rollout {

// What the first line ("session_meta") says of the session.
struct SessionMeta {
  std::string id;
  std::optional<std::string> cwd;
  std::optional<Seconds> startedAt;  // Unix seconds
  bool operator==(const SessionMeta&) const = default;
};

// The session meta in a rollout's first line; nothing for any other line or a damaged one.
std::optional<SessionMeta> sessionMeta(std::string_view firstLine);

// Brings `summary` up to date with a chunk of a rollout: the last prompt, the last reply after
// it, the model, the last command run, and the first prompt as the title.
void apply(const log_lines::Chunk& chunk, ConversationSummary& summary);

// "2026-12-07T03:17:12.930Z" -> Unix seconds; nothing for other shapes. A numeric offset is honoured.
std::optional<Seconds> isoSeconds(std::string_view text);

}  // namespace tovami::codex_rollout
