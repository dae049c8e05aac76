// Finds the newest transcript of a project under Claude Code's projects folder.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovami::claude_transcript {

struct TranscriptFile {
  std::filesystem::path path;
  // Absent when the file's modification time could not be read.
  std::optional<std::filesystem::file_time_type> modified;
};

// The folder names tried for a project, in order: the path with "/" replaced by "-", then also
// with "." replaced by "-" (the names older versions used), then Claude Code's own rule (every
// character outside A-Z, a-z, 0-9 replaced by "-"). Duplicates and unusable names are left out.
std::vector<std::string> candidateFolderNames(std::string_view projectPath);

// The regular "*.jsonl" files (hidden entries skipped) of the first candidate folder that holds
// one, newest first (a time that cannot be read counts as the distant past; equal times keep the
// listing order). A name over Claude Code's 200-character limit is also looked up as the folders
// whose names start with its first 200 characters and "-", files across them. Empty when no
// folder yields a file; folders that cannot be listed are passed over.
std::vector<TranscriptFile> transcriptFiles(std::string_view projectPath,
                                            const std::filesystem::path& projectsFolder);

}  // namespace tovami::claude_transcript
