#include "linux/remote/remote_rows_runtime_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <optional>
#include <string_view>

namespace tovami::linux_backend {
namespace {

// Reads at most `limit` bytes of an open file; nothing when it holds more or a read fails.
std::optional<std::string> readAll(int fd, size_t limit) {
  std::string bytes;
  char buffer[65536];
  while (true) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) return bytes;
    bytes.append(buffer, size_t(got));
    if (bytes.size() > limit) return std::nullopt;
  }
}

// A process of this user and its start ("starttime", field 22 of /proc/PID/stat, after the name's
// last ")": the name may hold anything).
std::optional<uint64_t> startTicksOfOwn(int32_t pid) {
  const std::string path = "/proc/" + std::to_string(pid) + "/stat";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  const bool own = ::fstat(fd, &info) == 0 && info.st_uid == ::geteuid();
  const auto text = own ? readAll(fd, 4096) : std::nullopt;
  ::close(fd);
  if (!text) return std::nullopt;
  std::string_view rest(*text);
  const size_t close = rest.rfind(')');
  if (close == std::string_view::npos) return std::nullopt;
  rest.remove_prefix(close + 1);
  for (int field = 3; field <= 22; ++field) {
    const size_t start = rest.find_first_not_of(' ');
    if (start == std::string_view::npos) return std::nullopt;
    rest.remove_prefix(start);
    const std::string_view token = rest.substr(0, std::min(rest.find(' '), rest.size()));
    if (field == 22) {
      uint64_t ticks = 0;
      const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), ticks);
      if (error != std::errc() || end != token.data() + token.size()) return std::nullopt;
      return ticks;
    }
    rest.remove_prefix(token.size());
  }
  return std::nullopt;
}

}  // namespace

remote::RowsWriter thisRowsWriter() {
  const auto pid = int32_t(::getpid());
  return {pid, startTicksOfOwn(pid).value_or(0)};
}

std::vector<AgentSession> readRemoteRows(const std::string& folder, Seconds now) {
  if (folder.empty()) return {};
  const std::string path = folder + "/" + remote::kRemoteRowsFile;
  // Without blocking: a FIFO put in its place would wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return {};
  struct stat info {};
  const bool fits = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
                    (info.st_mode & 077) == 0 && size_t(info.st_size) <= remote::kMaxRemoteRowsFileBytes;
  const auto text = fits ? readAll(fd, remote::kMaxRemoteRowsFileBytes) : std::nullopt;
  ::close(fd);
  if (!text) return {};
  auto parsed = remote::parseRemoteRows(*text, now);
  if (!parsed || startTicksOfOwn(parsed->writer.pid) != parsed->writer.startTicks) return {};
  return std::move(parsed->rows);
}

}  // namespace tovami::linux_backend
