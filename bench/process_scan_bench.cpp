// One agent-watch scan over a table of at least 500 processes: ps (and lsof) against /proc.
// CPU figures include the tools' own CPU time (reaped children), since that is what a scan costs.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "agents/process_sampling.h"
#include "linux/agents/proc_sampler.h"
#include "linux/agents/process_runner.h"

extern char** environ;

namespace tovami::linux_backend {
namespace {

// 500 sleeping children for the whole run, killed and reaped at exit.
class Sleepers {
 public:
  static Sleepers& shared() {
    static Sleepers sleepers(500);
    return sleepers;
  }
  ~Sleepers() {
    for (pid_t pid : pids) ::kill(pid, SIGKILL);
    for (pid_t pid : pids) ::waitpid(pid, nullptr, 0);
  }
  std::vector<pid_t> pids;

 private:
  explicit Sleepers(int count) {
    char* argv[] = {const_cast<char*>("/bin/sleep"), const_cast<char*>("3600"), nullptr};
    for (int i = 0; i < count; ++i) {
      pid_t pid = 0;
      if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ) == 0) pids.push_back(pid);
    }
  }
};

struct CpuSeconds {
  double user = 0;
  double system = 0;
};

CpuSeconds cpuSecondsIncludingChildren() {
  CpuSeconds total;
  for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    rusage usage{};
    ::getrusage(who, &usage);
    total.user +=
        static_cast<double>(usage.ru_utime.tv_sec) + static_cast<double>(usage.ru_utime.tv_usec) / 1e6;
    total.system +=
        static_cast<double>(usage.ru_stime.tv_sec) + static_cast<double>(usage.ru_stime.tv_usec) / 1e6;
  }
  return total;
}

// Runs `scan` per iteration and reports the CPU per scan (own and the tools', user and kernel)
// and the table size.
template <typename Scan>
void measure(benchmark::State& state, Scan scan) {
  Sleepers::shared();
  size_t rows = 0;
  const CpuSeconds before = cpuSecondsIncludingChildren();
  for (auto _ : state) rows = scan();
  const CpuSeconds after = cpuSecondsIncludingChildren();
  const double perScan = 1000 / static_cast<double>(state.iterations());
  state.counters["cpu_ms_per_scan"] = (after.user - before.user + after.system - before.system) * perScan;
  state.counters["user_ms"] = (after.user - before.user) * perScan;
  state.counters["kernel_ms"] = (after.system - before.system) * perScan;
  state.counters["processes"] = static_cast<double>(rows);
}

size_t scanWith(ProcessSampler& sampler) {
  auto rows = sampler.sampleProcesses();
  if (!rows) return 0;
  ProcessTable table(std::move(*rows));
  benchmark::DoNotOptimize(recognizeTopAgents(table));
  return table.rows.size();
}

void BM_ScanWithPs(benchmark::State& state) {
  PosixProcessLauncher launcher;
  ToolProcessSampler sampler(launcher, linuxToolPaths());
  measure(state, [&] { return scanWith(sampler); });
}

void BM_ScanWithProc(benchmark::State& state) {
  ProcSampler sampler;
  sampler.sampleProcesses();  // steady state: command lines already known
  measure(state, [&] { return scanWith(sampler); });
}

void BM_ScanWithProcCold(benchmark::State& state) {
  measure(state, [&] {
    ProcSampler sampler;  // every command line read afresh
    return scanWith(sampler);
  });
}

std::vector<int32_t> fivePids() {
  const auto& pids = Sleepers::shared().pids;
  return {pids.begin(), pids.begin() + std::min<size_t>(5, pids.size())};
}

void BM_WorkingDirectoriesWithLsof(benchmark::State& state) {
  PosixProcessLauncher launcher;
  ToolProcessSampler sampler(launcher, linuxToolPaths());
  const auto pids = fivePids();
  measure(state, [&] { return sampler.workingDirectories(pids).size(); });
}

void BM_WorkingDirectoriesWithProc(benchmark::State& state) {
  ProcSampler sampler;
  const auto pids = fivePids();
  measure(state, [&] { return sampler.workingDirectories(pids).size(); });
}

BENCHMARK(BM_ScanWithPs)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ScanWithProc)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ScanWithProcCold)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_WorkingDirectoriesWithLsof)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_WorkingDirectoriesWithProc)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace
}  // namespace tovami::linux_backend
