#include "agents/claude_project_folder.h"

#include <algorithm>
#include <system_error>

#include "peers/claude_code_peer.h"

namespace tovami::claude_transcript {

namespace fs = std::filesystem;

namespace {

bool usableFolderName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('\0') == std::string::npos;
}

struct Transcripts {
  std::vector<TranscriptFile> files;

  void consider(const fs::directory_entry& entry) {
    std::error_code ec;
    const fs::path& path = entry.path();
    const std::string name = path.filename().string();
    if (name.empty() || name.front() == '.' || path.extension() != ".jsonl") return;
    // Regular files only (after links): a directory cannot be read and a pipe would block.
    if (!entry.is_regular_file(ec) || ec) return;
    std::optional<fs::file_time_type> modified;
    fs::file_time_type time = entry.last_write_time(ec);
    if (!ec) modified = time;
    files.push_back(TranscriptFile{path, modified});
  }

  std::vector<TranscriptFile> newestFirst() {
    std::stable_sort(files.begin(), files.end(), [](const TranscriptFile& a, const TranscriptFile& b) {
      return a.modified.value_or(fs::file_time_type::min()) > b.modified.value_or(fs::file_time_type::min());
    });
    return std::move(files);
  }
};

// Adds the folder's transcripts to `newest`; false when the folder cannot be listed.
bool scanFolder(const fs::path& folder, Transcripts& found) {
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) return false;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    found.consider(*it);
  }
  return true;
}

// The folders named `prefix` + hash that Claude Code makes for over-long names, in name order.
std::vector<fs::path> foldersStartingWith(const fs::path& projectsFolder, const std::string& prefix) {
  std::vector<fs::path> folders;
  std::error_code ec;
  fs::directory_iterator it(projectsFolder, ec);
  if (ec) return folders;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const std::string name = it->path().filename().string();
    if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0) {
      folders.push_back(it->path());
    }
  }
  std::sort(folders.begin(), folders.end());
  return folders;
}

}  // namespace

std::vector<std::string> candidateFolderNames(std::string_view projectPath) {
  std::vector<std::string> names;
  auto add = [&](std::string name) {
    if (usableFolderName(name) && std::find(names.begin(), names.end(), name) == names.end()) {
      names.push_back(std::move(name));
    }
  };
  std::string slashes(projectPath);
  std::replace(slashes.begin(), slashes.end(), '/', '-');
  std::string dots = slashes;
  std::replace(dots.begin(), dots.end(), '.', '-');
  add(std::move(slashes));
  add(std::move(dots));
  add(claude_code::projectFolderName(projectPath));
  return names;
}

std::vector<TranscriptFile> transcriptFiles(std::string_view projectPath, const fs::path& projectsFolder) {
  if (projectPath.empty() || projectsFolder.empty()) return {};
  for (const std::string& name : candidateFolderNames(projectPath)) {
    Transcripts found;
    if (scanFolder(projectsFolder / name, found) && !found.files.empty()) return found.newestFirst();
  }
  if (auto prefix = claude_code::projectFolderPrefix(claude_code::projectFolderName(projectPath))) {
    Transcripts found;
    for (const fs::path& folder : foldersStartingWith(projectsFolder, *prefix)) scanFolder(folder, found);
    return found.newestFirst();
  }
  return {};
}

}  // namespace tovami::claude_transcript
