#include "linux/agents/process_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>

extern char** environ;

namespace tovami::linux_backend {
namespace {

using SteadyClock = std::chrono::steady_clock;

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { reset(); }
  int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

int millisecondsUntil(SteadyClock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  if (left <= 0) return 0;
  return static_cast<int>(std::min<long long>(left + 1, 60'000));
}

int openPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  errno = ENOSYS;
  return -1;
#endif
}

// Reaps the child if it has exited; true once it has.
bool reaped(pid_t pid) {
  int status = 0;
  const pid_t result = ::waitpid(pid, &status, WNOHANG);
  return result == pid || (result < 0 && errno == ECHILD);
}

// Waits until the child exits or the deadline passes; true when it was reaped.
bool waitForExit(pid_t pid, int pidfd, SteadyClock::time_point deadline) {
  while (true) {
    if (reaped(pid)) return true;
    const int wait = millisecondsUntil(deadline);
    if (wait == 0) return false;
    if (pidfd >= 0) {
      pollfd entry{pidfd, POLLIN, 0};
      ::poll(&entry, 1, wait);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(wait, 5)));
    }
  }
}

// What the pipe can hold (the most a writer may have left in it), 1 MiB when unknown.
size_t pipeCapacityOf(int fd) {
#ifdef F_GETPIPE_SZ
  const int size = ::fcntl(fd, F_GETPIPE_SZ);
  if (size > 0) return static_cast<size_t>(size);
#else
  (void)fd;
#endif
  return size_t{1} << 20;
}

}  // namespace

ToolRun PosixProcessLauncher::run(const std::string& path, const std::vector<std::string>& arguments,
                                  double timeoutSeconds) {
  ToolRun result;
  int pipeEnds[2];
  if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
    result.launchError = std::strerror(errno);
    return result;
  }
  FileDescriptor readEnd(pipeEnds[0]);
  FileDescriptor writeEnd(pipeEnds[1]);

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // The tool starts with default signal handling whatever this process blocks or ignores.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  pid_t pid = -1;
  const int spawnError = ::posix_spawn(&pid, path.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  writeEnd.reset();
  if (spawnError != 0) {
    result.launchError = std::strerror(spawnError);
    return result;
  }

  FileDescriptor pidfd(openPidfd(pid));
  const auto timeout = std::chrono::duration<double>(std::clamp(timeoutSeconds, 0.0, 86400.0));
  const auto deadline = SteadyClock::now() + std::chrono::duration_cast<SteadyClock::duration>(timeout);
  std::string output;
  bool endOfOutput = false;
  bool overflow = false;
  bool broken = false;  // poll or read failed: what was read may be incomplete
  // Set once the tool has exited: everything it wrote is in the pipe by then, and reading on to
  // the end takes no time unless a process it left behind keeps the pipe open. Such an heir gets
  // this long; past it the run is cut short and fails, since the tool's last output may be
  // missing (a truncated process table must not pass for a whole one).
  std::optional<SteadyClock::time_point> graceEnd;
  // Once the grace is over only what the pipe can hold is still read: a slow reader (a loaded
  // machine) gets the tool's whole output, an heir that keeps writing does not keep us here.
  const size_t pipeCapacity = pipeCapacityOf(readEnd.get());
  size_t lateBytes = 0;
  char buffer[65536];
  while (!endOfOutput && !overflow && !broken) {
    if (!graceEnd && reaped(pid)) graceEnd = SteadyClock::now() + kHeirGrace;
    const int wait = millisecondsUntil(graceEnd ? *graceEnd : deadline);
    if (wait == 0 && (!graceEnd || lateBytes > pipeCapacity)) break;
    pollfd entries[2] = {{readEnd.get(), POLLIN, 0}, {pidfd.get(), POLLIN, 0}};
    const nfds_t count = pidfd.get() >= 0 && !graceEnd ? 2 : 1;
    const int pollWait = graceEnd || pidfd.get() >= 0 ? wait : std::min(wait, 20);
    // Polled even when no time is left: output that is already there is always read.
    const int ready = ::poll(entries, count, pollWait);
    if (ready < 0) {
      broken = errno != EINTR;
      continue;
    }
    if (entries[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      const ssize_t got = ::read(readEnd.get(), buffer, sizeof buffer);
      if (got > 0) {
        output.append(buffer, static_cast<size_t>(got));
        if (wait == 0) lateBytes += static_cast<size_t>(got);
        overflow = output.size() > kMaxOutputBytes;
      } else if (got == 0) {
        endOfOutput = true;
      } else {
        broken = errno != EINTR;
      }
      continue;
    }
    if (ready == 0 && wait == 0) break;  // the grace ran out with the output still open
  }
  // A tool that closed its output may still run: it has until the deadline.
  const bool exited = graceEnd.has_value() || (endOfOutput && waitForExit(pid, pidfd.get(), deadline));
  if (exited) {  // reaped: never signalled again, the pid may already belong to another process
    if (overflow) {
      result.outcome = ToolRun::Outcome::tooMuchOutput;
    } else if (endOfOutput) {
      result.outcome = ToolRun::Outcome::finished;
      result.output = std::move(output);
    } else {
      result.outcome = ToolRun::Outcome::cutShort;
    }
    return result;
  }
  // Past the limit, flooding us or unreadable: ask it to stop, give it a second, then make sure.
  ::kill(pid, SIGTERM);
  if (!waitForExit(pid, pidfd.get(), SteadyClock::now() + std::chrono::seconds(1))) {
    ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  result.outcome = overflow ? ToolRun::Outcome::tooMuchOutput
                   : broken ? ToolRun::Outcome::cutShort
                            : ToolRun::Outcome::timedOut;
  return result;
}

ToolPaths linuxToolPaths() {
  auto first = [](std::initializer_list<const char*> candidates) {
    for (const char* candidate : candidates)
      if (::access(candidate, X_OK) == 0) return std::string(candidate);
    return std::string(*candidates.begin());
  };
  return ToolPaths{first({"/usr/bin/ps", "/bin/ps"}),
                   first({"/usr/bin/lsof", "/usr/sbin/lsof", "/bin/lsof"})};
}

}  // namespace tovami::linux_backend
