// The native Linux process sampler: the same rows `ps -o pid=,ppid=,tty=,cputime=,etime=,args=`
// prints, read straight from /proc without starting a process. Command lines are read once per
// process (keyed by pid, start time and name, so an exec or a renamed process is read again) and
// again while a process is young, when it may still rewrite its title.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "platform/processes.h"

namespace tovami::linux_backend {

class ProcSampler final : public ProcessSampler {
 public:
  // Command lines longer than this are cut.
  static constexpr size_t kMaxCommandLineBytes = 1u << 20;
  // A process younger than this may still be setting its title: its command line is re-read.
  static constexpr double kSettleSeconds = 5.0;

  // `procRoot` is "/proc" except in tests, which build their own tree.
  explicit ProcSampler(std::string procRoot = "/proc");

  std::optional<std::vector<PSRow>> sampleProcesses() override;
  std::map<int32_t, std::string> workingDirectories(const std::vector<int32_t>& pids) override;

  // How many command lines were read so far (for tests and the benchmark).
  size_t commandLineReads() const { return commandLineReads_; }

 private:
  struct Known {
    uint64_t startTicks = 0;
    std::string name;
    std::string args;
    bool settled = false;
    bool seen = false;
  };

  std::optional<std::string> terminalName(uint64_t ttyNumber);

  std::string root_;
  double ticksPerSecond_;
  std::unordered_map<int32_t, Known> known_;
  std::unordered_map<uint64_t, std::optional<std::string>> ttyNames_;
  size_t commandLineReads_ = 0;
};

// The sampler for this system: /proc, or ps and lsof when TOVAMI_PROCESS_SAMPLER=ps (to compare
// the two, or where /proc is not mounted).
std::unique_ptr<ProcessSampler> makeLinuxProcessSampler();

// "a\0b\0" -> "a b": arguments joined by single spaces, trailing terminators dropped, control
// characters and bytes that are not UTF-8 shown as "?" (as ps shows them).
std::string commandLineText(std::string_view raw);

}  // namespace tovami::linux_backend
