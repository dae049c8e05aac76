#include "linux/jump/proc_jump_environment.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <sstream>

#include "linux/files/regular_file.h"

namespace tovami::linux_backend {
namespace {

constexpr size_t kMaxEnvironmentBytes = 1 << 20;

std::optional<std::string> readSmallFile(const std::string& path, size_t limit) {
  std::string data, why;
  if (readRegularFile(path, limit, data, why) != FileRead::read) return std::nullopt;
  return data;
}

}  // namespace

std::optional<std::string> ProcJumpEnvironment::environmentVariable(int32_t pid, const std::string& name) {
  if (pid <= 0) return std::nullopt;
  const auto data = readSmallFile(procRoot_ + "/" + std::to_string(pid) + "/environ", kMaxEnvironmentBytes);
  if (!data) return std::nullopt;
  const std::string prefix = name + "=";
  size_t start = 0;
  while (start < data->size()) {
    size_t end = data->find('\0', start);
    if (end == std::string::npos) end = data->size();
    if (data->compare(start, prefix.size(), prefix) == 0)
      return data->substr(start + prefix.size(), end - start - prefix.size());
    start = end + 1;
  }
  return std::nullopt;
}

std::optional<int32_t> ProcJumpEnvironment::parentOf(int32_t pid) {
  if (pid <= 0) return std::nullopt;
  const auto stat = readSmallFile(procRoot_ + "/" + std::to_string(pid) + "/stat", 4096);
  if (!stat) return std::nullopt;
  // "pid (comm) state ppid ...": the name may hold spaces and parentheses; the last ')' ends it.
  const size_t close = stat->rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(stat->substr(close + 1));
  std::string state;
  long long ppid = 0;
  if (!(fields >> state >> ppid) || ppid <= 0 || ppid > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(ppid);
}

std::optional<std::string> ProcJumpEnvironment::executableName(int32_t pid) {
  if (pid <= 0) return std::nullopt;
  // The kernel keeps at most 15 bytes and a newline.
  auto comm = readSmallFile(procRoot_ + "/" + std::to_string(pid) + "/comm", 64);
  if (!comm) return std::nullopt;
  if (!comm->empty() && comm->back() == '\n') comm->pop_back();
  if (comm->empty()) return std::nullopt;
  return comm;
}

std::vector<std::string> ProcJumpEnvironment::tmuxSockets() {
  const char* base = std::getenv("TMUX_TMPDIR");
  const std::filesystem::path folder =
      std::filesystem::path(base && *base ? base : "/tmp") / ("tmux-" + std::to_string(getuid()));
  std::vector<std::string> sockets;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    struct stat info {};
    if (lstat(entry.path().c_str(), &info) == 0 && S_ISSOCK(info.st_mode) && info.st_uid == getuid())
      sockets.push_back(entry.path().string());
    if (sockets.size() >= 64) break;
  }
  return sockets;
}

std::optional<std::string> ProcJumpEnvironment::findExecutable(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path && *path ? path : "/usr/local/bin:/usr/bin:/bin");
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    if (folder.empty()) continue;
    const std::string candidate = folder + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::nullopt;
}

}  // namespace tovami::linux_backend
