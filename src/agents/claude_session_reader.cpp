#include "agents/claude_session_reader.h"

#include <chrono>
#include <fstream>

#include "agents/claude_project_folder.h"

namespace tovami {

namespace {

Seconds unixSeconds(std::filesystem::file_time_type time) {
  auto system = std::chrono::file_clock::to_sys(time);
  return std::chrono::duration<Seconds>(system.time_since_epoch()).count();
}

}  // namespace

ClaudeSessionReader::ClaudeSessionReader(claude_code::ClaudeCodeLocations locations)
    : locations_(std::move(locations)) {}

std::optional<ClaudeSessionReader::Info> ClaudeSessionReader::read(const std::string& projectPath) {
  const auto files = claude_transcript::transcriptFiles(projectPath, locations_.projectsFolder());
  if (files.empty()) return std::nullopt;

  auto [cached, fresh] = cache_.try_emplace(projectPath);
  CacheEntry& entry = cached->second;
  for (const auto& file : files) {
    if (!fresh && file.modified && entry.file == file.path && entry.modified == file.modified)
      return entry.info;
    std::ifstream in(file.path, std::ios::binary);
    if (!in.is_open()) continue;  // unreadable: an older transcript may do
    if (entry.file != file.path) entry.mark = {};
    claude_transcript::readInto(in, entry.mark, entry.info);
    entry.info.updatedAt = file.modified ? std::optional<Seconds>(unixSeconds(*file.modified)) : std::nullopt;
    entry.file = file.path;
    entry.modified = file.modified;
    return entry.info;
  }
  // None can be read: the newest one's time still tells that the agent writes.
  Info info = entry.info;
  const auto& newest = files.front();
  info.updatedAt = newest.modified ? std::optional<Seconds>(unixSeconds(*newest.modified)) : std::nullopt;
  return info;
}

}  // namespace tovami
