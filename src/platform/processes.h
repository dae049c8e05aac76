// The process table and child processes, as the agent watcher sees them.
//
// Two seams live here. ProcessLauncher runs one external tool with a time limit and hands back
// its raw standard output (src/agents/process_sampling.h turns that into `runTool`).
// ProcessSampler is what the watcher asks every scan: the rows of the process table and the
// working directories of a few processes. One sampler runs `ps` and `lsof` through a launcher
// (portable, in src/agents); the Linux backend has a native one that reads /proc.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tovami {

// One process, as `ps -o pid=,ppid=,tty=,cputime=,etime=,args=` shows it.
struct PSRow {
  int32_t pid = 0;
  int32_t ppid = 0;
  // Controlling terminal as `ps` names it ("pts/3", "ttys003"); absent without one.
  std::optional<std::string> tty;
  // CPU seconds used so far by this process alone.
  double cpuTime = 0;
  // Wall seconds since the process started.
  double elapsed = 0;
  // The full command line, arguments separated by single spaces.
  std::string args;
  // Where each argument ends in `args`, when the source knows the real boundaries (/proc does):
  // an argument may hold spaces ("/home/John Smith/bin/claude"). Empty when it does not (ps).
  std::vector<uint32_t> argumentEnds = {};
  // When the process started, in clock ticks since boot (field 22 of /proc/<pid>/stat), where the
  // source knows it: with the pid it names one process for good.
  std::optional<uint64_t> startTicks = {};
  // Where the source numbers what it reads: another number whenever any field above but `elapsed`
  // may have changed, the same one for a row it did not read again. 0 where it does not number
  // them (every row then counts as new).
  uint64_t revision = 0;

  // The process as read, whatever the source's numbering.
  bool operator==(const PSRow& other) const {
    return pid == other.pid && ppid == other.ppid && tty == other.tty && cpuTime == other.cpuTime &&
           elapsed == other.elapsed && args == other.args && argumentEnds == other.argumentEnds &&
           startTicks == other.startTicks;
  }
};

// The result of running a tool to its end (or not).
struct ToolRun {
  // tooMuchOutput: the tool flooded its pipe past the launcher's bound and was stopped.
  // cutShort: the output could not be read to its end (a process the tool left behind kept it
  // open after the tool exited, or reading failed): what was read may be incomplete.
  enum class Outcome { finished, failedToLaunch, timedOut, tooMuchOutput, cutShort };
  Outcome outcome = Outcome::failedToLaunch;
  // Everything the tool wrote to its standard output (finished only; raw bytes).
  std::string output;
  // failedToLaunch: the system's description of the error.
  std::string launchError;
};

class ProcessLauncher {
 public:
  virtual ~ProcessLauncher() = default;
  // Runs the executable at `path` with `arguments` (no shell, environment inherited, standard
  // input and error on the null device, standard output captured). Waits at most `timeoutSeconds`
  // for it to exit; past that the tool is asked to terminate, given one more second, then killed.
  // Never blocks longer than the timeout plus about one second. Thread-safe.
  virtual ToolRun run(const std::string& path, const std::vector<std::string>& arguments,
                      double timeoutSeconds) = 0;
};

class ProcessSampler {
 public:
  virtual ~ProcessSampler() = default;
  // Every process, or nothing when the table cannot be read at all (a failed scan). A table that
  // yields no usable row is an empty list, not nothing. Rows come in ascending pid order for
  // `ps` (its output order) and for /proc.
  virtual std::optional<std::vector<PSRow>> sampleProcesses() = 0;
  // The same into `rows`, whose rows' buffers a sampler may reuse (a scan every few seconds then
  // allocates little); false, with `rows` unspecified, when the table cannot be read. Rows this
  // sampler's last call filled must be handed back as it left them: a sampler may keep those that
  // did not change without touching them.
  virtual bool sampleInto(std::vector<PSRow>& rows) {
    auto sampled = sampleProcesses();
    if (!sampled) return false;
    rows = std::move(*sampled);
    return true;
  }
  // The current working directory of each listed process that still exists and can be read;
  // empty when the source fails. An empty list asks nothing of the system.
  virtual std::map<int32_t, std::string> workingDirectories(const std::vector<int32_t>& pids) = 0;
  // The paths of the regular files the process holds open (at most kMaxOpenFiles); empty when
  // unknown or unreadable.
  static constexpr size_t kMaxOpenFiles = 256;
  virtual std::vector<std::string> openFiles(int32_t /*pid*/) { return {}; }
};

}  // namespace tovami
