// What Tovami relies on from Codex CLI: where it keeps each session's log ("rollout") and the
// records read from it. Codex is a separate program; its logs are not a stable interface, so any
// of this may be missing or differ in another version: users of this header treat that as absence.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tovami::codex {

inline constexpr const char* kAgentName = "Codex";

// $CODEX_HOME, else ~/.codex; sessions under <home>/sessions/YYYY/MM/DD/ (local date).
inline constexpr const char* kHomeVariable = "CODEX_HOME";
inline constexpr const char* kDefaultHomeFolder = ".codex";
inline constexpr const char* kSessionsFolder = "sessions";
// rollout-<local time>-<session uuid>.jsonl
inline constexpr const char* kRolloutPrefix = "rollout-";
inline constexpr const char* kRolloutExtension = ".jsonl";

// One JSON object per line: {"timestamp", "type", "payload"}. Seen in 0.171: the first line is
// "session_meta" (id, cwd, timestamp; over 25 KB with the instructions it carries); the model is in
// "turn_context"; prompts and replies come as "event_msg" user_message / agent_message (older
// versions) or as "response_item" messages with role user / assistant (text items "input_text" /
// "output_text"; the user role also carries injected "<environment_context>" markup).
namespace rollout_keys {
inline constexpr const char* kType = "type";
inline constexpr const char* kPayload = "payload";
inline constexpr const char* kSessionMeta = "session_meta";
inline constexpr const char* kTurnContext = "turn_context";
inline constexpr const char* kEventMessage = "event_msg";
inline constexpr const char* kResponseItem = "response_item";
inline constexpr const char* kUserMessage = "user_message";
inline constexpr const char* kAgentMessage = "agent_message";
inline constexpr const char* kMessage = "message";
inline constexpr const char* kRole = "role";
inline constexpr const char* kContent = "content";
inline constexpr const char* kText = "text";
inline constexpr const char* kModel = "model";
inline constexpr const char* kId = "id";
inline constexpr const char* kCwd = "cwd";
inline constexpr const char* kTimestamp = "timestamp";
inline constexpr const char* kFunctionCall = "function_call";
inline constexpr const char* kName = "name";
inline constexpr const char* kArguments = "arguments";
}  // namespace rollout_keys

// The folder holding the dated session folders: `codexHome` ($CODEX_HOME) when set and not empty,
// else <home>/.codex/sessions; empty when neither is known.
std::filesystem::path sessionsFolder(const std::filesystem::path& home,
                                     const std::optional<std::string>& codexHome);

}  // namespace tovami::codex
