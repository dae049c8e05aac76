#include "linux/main/status_line_wrapper.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "approvals/hook_client.h"
#include "linux/integrations/hook_socket_client.h"
#include "peers/status_line_feed.h"

namespace tovami::linux_backend {
namespace {

// Claude Code writes its input at once and closes it; a writer that does not is passed on as it
// comes, without being forwarded to Tovami.
constexpr int kInputMs = 500;

struct Input {
  std::string bytes;
  bool complete = false;  // the end was read within the bounds
};

long long nowMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

Input readInput() {
  Input input;
  char buffer[65536];
  const long long deadline = nowMs() + kInputMs;
  while (input.bytes.size() <= kStatusLineInputLimit) {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    const long long left = deadline - nowMs();
    const int ready = left <= 0 ? 0 : ::poll(&p, 1, static_cast<int>(left));
    if (ready == 0) return input;
    if (ready < 0) {
      if (errno == EINTR) continue;
      return input;
    }
    const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (got == 0) {
      input.complete = true;
      return input;
    }
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      input.complete = true;  // nothing more will come: the command gets what there was
      return input;
    }
    input.bytes.append(buffer, static_cast<std::size_t>(got));
  }
  return input;
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t put = ::write(fd, bytes.data(), bytes.size());
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(put));
  }
  return true;
}

// The parent's pid, then its ancestors' (from /proc/<pid>/stat's fourth field).
std::vector<int32_t> ancestors() {
  std::vector<int32_t> pids{static_cast<int32_t>(::getppid())};
  while (pids.size() < kStatusLineAncestors && pids.back() > 1) {
    char path[32], stat[512];
    std::snprintf(path, sizeof path, "/proc/%d/stat", pids.back());
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) break;
    const ssize_t got = ::read(fd, stat, sizeof stat - 1);
    ::close(fd);
    if (got <= 0) break;
    stat[got] = '\0';
    const char* close = std::strrchr(stat, ')');  // the name may hold anything, ')' included
    int parent = 0;
    if (!close || std::sscanf(close + 1, " %*c %d", &parent) != 1 || parent <= 1) break;
    pids.push_back(parent);
  }
  return pids;
}

void forward(const std::optional<std::string>& givenSocket, const Input& input) {
  if (!givenSocket || !input.complete) return;
  std::string refusal;
  const std::string socketPath = hookSocketPath(givenSocket, claude_code::processEnvironment(), refusal);
  if (socketPath.empty()) return;
  if (auto envelope = statusLineEnvelope(input.bytes, ancestors())) sendWithoutWaiting(socketPath, *envelope);
}

// Standard input becomes a pipe holding the same bytes: written now when they are all there and
// fit, else by a child that also passes on the rest as it comes.
bool replaceStandardInput(const Input& input) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return false;
  bool fits = input.complete && input.bytes.size() <= 65536;
  if (input.complete && !fits) fits = ::fcntl(ends[1], F_SETPIPE_SZ, static_cast<int>(input.bytes.size())) >=
                                      static_cast<int>(input.bytes.size());
  if (fits) {
    writeAll(ends[1], input.bytes);
  } else {
    const pid_t feeder = ::fork();
    if (feeder == 0) {
      ::signal(SIGPIPE, SIG_IGN);  // the command may stop reading: the feeder then just ends
      ::close(ends[0]);
      bool open = writeAll(ends[1], input.bytes);
      char buffer[65536];
      while (open && !input.complete) {
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        open = writeAll(ends[1], std::string_view(buffer, static_cast<std::size_t>(got)));
      }
      ::_exit(0);
    }
    if (feeder < 0) return false;
  }
  ::close(ends[1]);
  if (::dup2(ends[0], STDIN_FILENO) < 0) return false;  // dup2 clears close-on-exec on the copy
  ::close(ends[0]);
  return true;
}

}  // namespace

int runStatusLineWrapper(int argc, char** argv) {
  std::optional<std::string> socket, command;
  for (int i = 3; i + 1 < argc; i += 2) {
    const std::string_view name = argv[i];
    if (name == "--socket" && !socket) socket = argv[i + 1];
    if (name == "--wrap" && !command) command = argv[i + 1];
  }
  const Input input = readInput();
  forward(socket, input);
  if (!command) return 0;
  if (!replaceStandardInput(input)) {
    std::fprintf(stderr, "tovami: the status line command could not be given its input: %s\n", std::strerror(errno));
    return 1;
  }
  ::execl("/bin/sh", "sh", "-c", command->c_str(), static_cast<char*>(nullptr));
  std::fprintf(stderr, "tovami: cannot run /bin/sh: %s\n", std::strerror(errno));
  return 127;
}

}  // namespace tovami::linux_backend
