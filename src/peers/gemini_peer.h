// What Tovami relies on from Gemini CLI: where it keeps each project's chats and the records read
// from them. Gemini CLI is a separate program; its files are not a stable interface, so any of
// this may be missing or differ in another version: users of this header treat that as absence.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tovami::gemini {

inline constexpr const char* kAgentName = "Gemini CLI";

// <home>/.gemini/tmp/<project id>/chats/session-*.jsonl (".json", one document, before 2026).
// The project id of a folder is registered in <home>/.gemini/projects.json as
// {"projects": {"/path/to/project": "<id>"}}, and <project id>/.project_root holds the path.
inline constexpr const char* kConfigFolder = ".gemini";
inline constexpr const char* kProjectsFile = "projects.json";
inline constexpr const char* kProjectsKey = "projects";
inline constexpr const char* kTempFolder = "tmp";
inline constexpr const char* kProjectRootFile = ".project_root";
inline constexpr const char* kChatsFolder = "chats";
inline constexpr const char* kChatPrefix = "session-";

// The ".jsonl" form, as written by 0.61: a header line {"sessionId", "projectHash", "startTime",
// "kind"}, message records {"id", "timestamp", "type": "user" | "gemini", "content", "model"?},
// and {"$set": {...}} updates, whose "messages" replaces every message so far. "content" is a
// string or a list of {"text": ...} parts. The ".json" form: one object with "messages".
namespace chat_keys {
inline constexpr const char* kSessionId = "sessionId";
inline constexpr const char* kStartTime = "startTime";
inline constexpr const char* kMessages = "messages";
inline constexpr const char* kSet = "$set";
inline constexpr const char* kType = "type";
inline constexpr const char* kUser = "user";
inline constexpr const char* kGemini = "gemini";
inline constexpr const char* kContent = "content";
inline constexpr const char* kText = "text";
inline constexpr const char* kModel = "model";
inline constexpr const char* kToolCalls = "toolCalls";
inline constexpr const char* kName = "name";
}  // namespace chat_keys

// A ".json" chat larger than this is not parsed (it is one document, read whole).
inline constexpr std::size_t kChatDocumentMaxBytes = 4 * 1024 * 1024;

inline std::filesystem::path configFolder(const std::filesystem::path& home) {
  return home.empty() ? std::filesystem::path() : home / kConfigFolder;
}

// The project id registered for `projectPath` in the text of projects.json; nothing when absent,
// malformed, or not a plain folder name.
std::optional<std::string> registeredProjectId(std::string_view projectsJson, const std::string& projectPath);

}  // namespace tovami::gemini
