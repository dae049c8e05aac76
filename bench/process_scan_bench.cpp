// One agent-watch scan over a table of 600 and of 2,500 processes (sleeping children make up the
// count): ps (and lsof) against /proc, cold and in the steady state the watcher runs in.
// CPU figures include the tools' own CPU time (reaped children), since that is what a scan costs.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>

#include <cctype>
#include <vector>

#include "agents/process_sampling.h"
#include "linux/agents/proc_sampler.h"
#include "linux/agents/process_runner.h"

extern char** environ;

namespace tovami::linux_backend {
namespace {

size_t processCount() {
  size_t count = 0;
  if (DIR* proc = ::opendir("/proc")) {
    while (const dirent* entry = ::readdir(proc))
      count += std::isdigit(static_cast<unsigned char>(entry->d_name[0])) ? 1 : 0;
    ::closedir(proc);
  }
  return count;
}

// Sleeping children that bring the table up to a size, killed and reaped at exit (and ending on
// their own after 15 minutes should the run be cut short).
class Sleepers {
 public:
  static Sleepers& shared() {
    static Sleepers sleepers;
    return sleepers;
  }
  ~Sleepers() {
    for (pid_t pid : pids) ::kill(pid, SIGKILL);
    for (pid_t pid : pids) ::waitpid(pid, nullptr, 0);
  }
  // Spawns up to `total` processes and lets them age past the sampler's settling time, as most
  // processes of a desktop are.
  void fillTo(size_t total) {
    char* argv[] = {const_cast<char*>("/bin/sleep"), const_cast<char*>("900"), nullptr};
    bool spawned = false;
    for (size_t count = processCount(); count < total; ++count) {
      pid_t pid = 0;
      if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ) != 0) break;
      pids.push_back(pid);
      spawned = true;
    }
    if (spawned) ::usleep(static_cast<useconds_t>((ProcSampler::kSettleSeconds + 0.5) * 1e6));
  }
  std::vector<pid_t> pids;
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
  return table.byPid.size();
}

void BM_ScanWithPs(benchmark::State& state) {
  Sleepers::shared().fillTo(static_cast<size_t>(state.range(0)));
  PosixProcessLauncher launcher;
  ToolProcessSampler sampler(launcher, linuxToolPaths());
  measure(state, [&] { return scanWith(sampler); });
}

// Many scans in a row, as the watcher makes them: each reads only new processes, the agents' trees
// and its share of the exec check.
void BM_ScanWithProc(benchmark::State& state) {
  Sleepers::shared().fillTo(static_cast<size_t>(state.range(0)));
  ProcSampler sampler;
  sampler.sampleProcesses();  // steady state: command lines already known
  const size_t stats = sampler.statReads(), commandLines = sampler.commandLineReads();
  measure(state, [&] { return scanWith(sampler); });
  const auto perScan = [&](size_t count) {
    return static_cast<double>(count) / static_cast<double>(state.iterations());
  };
  state.counters["stat_reads"] = perScan(sampler.statReads() - stats);
  state.counters["cmdline_reads"] = perScan(sampler.commandLineReads() - commandLines);
}

// As the watcher runs it: one scan every 3 s, so that the caches have gone cold in between (a scan
// costs several times what back-to-back scans do). CPU of the scans alone (this thread's).
void BM_ScanWithProcPaced(benchmark::State& state) {
  Sleepers::shared().fillTo(static_cast<size_t>(state.range(0)));
  ProcSampler sampler;
  sampler.sampleProcesses();
  double cpu = 0;
  size_t rows = 0;
  const auto threadCpu = [] {
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  };
  for (auto _ : state) {
    state.PauseTiming();
    ::usleep(3'000'000);
    state.ResumeTiming();
    const double before = threadCpu();
    rows = scanWith(sampler);
    cpu += threadCpu() - before;
  }
  state.counters["cpu_ms_per_scan"] = cpu * 1000 / static_cast<double>(state.iterations());
  state.counters["processes"] = static_cast<double>(rows);
}

void BM_ScanWithProcCold(benchmark::State& state) {
  Sleepers::shared().fillTo(static_cast<size_t>(state.range(0)));
  measure(state, [&] {
    ProcSampler sampler;  // every command line read afresh
    return scanWith(sampler);
  });
}

std::vector<int32_t> fivePids() {
  Sleepers::shared().fillTo(600);
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

// 600 processes first, then 2,500: the sleepers only ever grow.
BENCHMARK(BM_ScanWithPs)->Arg(600)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ScanWithProc)->Arg(600)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ScanWithProcCold)->Arg(600)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_WorkingDirectoriesWithLsof)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_WorkingDirectoriesWithProc)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ScanWithPs)->Arg(2500)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ScanWithProc)->Arg(2500)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ScanWithProcCold)->Arg(2500)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
// A minute each: bench/scan_cpu.py runs them beside the program.
BENCHMARK(BM_ScanWithProcPaced)->Arg(600)->Arg(2500)->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tovami::linux_backend
