#include "agents/claude_session_reader.h"

#include <chrono>

#include "agents/claude_project_folder.h"

namespace tovami {

namespace {

Seconds unixSeconds(std::filesystem::file_time_type time) {
  auto system = std::chrono::file_clock::to_sys(time);
  return std::chrono::duration<Seconds>(system.time_since_epoch()).count();
}

template <typename T>
void fillIfAbsent(std::optional<T>& field, const std::optional<T>& previous) {
  if (!field) field = previous;
}

}  // namespace

ClaudeSessionReader::ClaudeSessionReader(claude_code::ClaudeCodeLocations locations)
    : locations_(std::move(locations)) {}

std::optional<ClaudeSessionReader::Info> ClaudeSessionReader::read(const std::string& projectPath) {
  auto file = claude_transcript::transcriptURL(projectPath, locations_.projectsFolder());
  if (!file) return std::nullopt;

  auto cached = cache_.find(projectPath);
  if (file->modified && cached != cache_.end() && cached->second.modified == *file->modified) {
    return cached->second.info;
  }

  Info info = claude_transcript::parse(file->path);
  if (cached != cache_.end()) {
    const Info& previous = cached->second.info;
    fillIfAbsent(info.title, previous.title);
    fillIfAbsent(info.youLine, previous.youLine);
    fillIfAbsent(info.replyLine, previous.replyLine);
    fillIfAbsent(info.modelName, previous.modelName);
    fillIfAbsent(info.activityLine, previous.activityLine);
  }
  info.updatedAt = file->modified ? std::optional<Seconds>(unixSeconds(*file->modified)) : std::nullopt;
  if (file->modified) cache_.insert_or_assign(projectPath, CacheEntry{*file->modified, info});
  return info;
}

}  // namespace tovami
