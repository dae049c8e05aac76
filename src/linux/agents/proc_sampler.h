// The native Linux process sampler: the same rows `ps -o pid=,ppid=,tty=,cputime=,etime=,args=`
// prints, read straight from /proc without starting a process, with the real argument boundaries.
//
// A scan finds the processes, then reads only what can have changed in a way the watcher sees.
// Finding them means listing /proc, whose cost grows with the table. Between two listings (at most
// kListEvery scans apart) a scan instead takes the last one and probes the pids handed out since
// (/proc/loadavg names the last), when they are few; a process that ended is then dropped when
// its turn for the exec check comes, or at the next listing. What is read:
//   - `stat` and `cmdline` of a process seen for the first time. A pid that now names another
//     process has another inode for its /proc entry (the listing gives it for free), so a reused
//     pid is new too;
//   - `stat` (and `cmdline` when name or start changed) of the agents and their descendants,
//     whose CPU time the watcher needs every scan, and of young processes (once a second), which
//     may still exec or rewrite their title;
//   - once every kVerifyEvery scans, in turns (pid modulo kVerifyEvery), the program file of every
//     other process with a terminal (/proc/<pid>/exe, one readlink), to see a program replaced in
//     place (exec keeps pid and inode); `stat` when it changed or cannot be read. Processes without
//     a terminal (services, desktop programs: most of the table) are checked thirty times less
//     often. Kernel threads never exec and are left alone.
// Every other row is the one read before, with its elapsed time brought up to date; its CPU time
// is the one last read.
#pragma once

#include <dirent.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "linux/agents/freed_memory_release.h"
#include "platform/processes.h"

namespace tovami::linux_backend {

class ProcSampler final : public ProcessSampler {
 public:
  // Command lines longer than this are cut.
  static constexpr size_t kMaxCommandLineBytes = 1u << 20;
  // A process younger than this may still be setting its title: its command line is re-read, at
  // most once in kYoungRereadSeconds however often the table is sampled.
  static constexpr double kSettleSeconds = 5.0;
  static constexpr double kYoungRereadSeconds = 1.0;
  // A process with a terminal is checked for an exec once in this many scans; one without, in the
  // second many.
  static constexpr uint32_t kVerifyEvery = 10;
  static constexpr uint32_t kVerifyWithoutTerminalEvery = 300;
  // /proc is listed at least once in this many scans; in between, new pids are probed while there
  // are at most kMinProbes plus a quarter of the table of them.
  static constexpr uint32_t kListEvery = 20;
  static constexpr size_t kMinProbes = 64;
  // A pid is handed out a moment before its process shows in /proc: of the last this many pids,
  // those that showed nothing are probed once more by the next scan.
  static constexpr int32_t kProbeOverlap = 16;
  // At most this many stat files of watched processes are kept open (a big build under an agent
  // reads the rest the usual way).
  static constexpr size_t kMaxKeptStatFiles = 128;

  // `procRoot` is "/proc" except in tests, which build their own tree.
  explicit ProcSampler(std::string procRoot = "/proc");

  std::optional<std::vector<PSRow>> sampleProcesses() override;
  bool sampleInto(std::vector<PSRow>& rows) override;
  std::map<int32_t, std::string> workingDirectories(const std::vector<int32_t>& pids) override;
  std::vector<std::string> openFiles(int32_t pid) override;

  // How many stat files and command lines were read so far (for tests and the benchmark).
  size_t statReads() const { return statReads_; }
  size_t commandLineReads() const { return commandLineReads_; }

 private:
  // What only a read of the process needs, apart from what every scan looks at: the array of
  // these stays small and dense.
  struct Details {
    Details() = default;
    Details(const Details&) = delete;
    Details& operator=(const Details&) = delete;
    ~Details() { closeStat(); }
    void closeStat();

    PSRow row;
    std::string name;
    std::string exe;  // the program file, once looked at
    // The stat file of a watched process, kept open: read again from its start, it costs one
    // system call instead of three, and no lookup of its path. It stays bound to this process:
    // once the process is gone it reads nothing, whoever gets the pid next.
    int statFd = -1;
    size_t* keptCount = nullptr;  // the sampler's count of kept stat files
  };
  struct Known {
    int32_t pid = 0;
    int32_t ppid = 0;
    uint32_t seenInScan = 0;
    uint32_t markedInScan = 0;
    bool settled = false;
    bool hasTerminal = false;
    bool exeUnreadable = false;
    bool kernelThread = false;
    bool agent = false;
    bool watched = false;  // an agent or below one: read every scan
    uint64_t inode = 0;    // of the /proc/<pid> entry: another process, another inode
    uint64_t startTicks = 0;
    double readAt = 0;  // system uptime of the last read
    std::unique_ptr<Details> details = std::make_unique<Details>();
  };

  std::optional<std::string> terminalName(uint64_t ttyNumber);
  // Reads stat (and cmdline when needed) into `known`: a process, nothing (gone, or not readable
  // as one), or a thread (whose pid leads to an entry of its own too).
  enum class Found { process, nothing, thread };
  Found read(int rootFd, int32_t pid, Known& known, double uptime, bool fresh);
  bool readStat(int rootFd, int32_t pid, Known& known);
  // Whether the process replaced its program since it was last read: `unknown` where the program
  // file cannot be read or was not looked at before.
  enum class Program { same, other, unknown };
  Program lookAtProgram(int rootFd, int32_t pid, Known& known);
  void markWatched();
  std::optional<int32_t> lastAllocatedPid(int rootFd);
  void listAll(DIR* directory);
  // Adds the pids handed out since the last scan to the last listing; false when /proc has to be
  // listed instead.
  bool probeNewPids(std::optional<int32_t> lastPid);

  // A /proc file of the whole system, kept open and read again from its start: one system call
  // a scan instead of four.
  class KeptFile {
   public:
    KeptFile() = default;
    KeptFile(const KeptFile&) = delete;
    KeptFile& operator=(const KeptFile&) = delete;
    ~KeptFile();
    bool read(int rootFd, const char* name, std::string& out);
    void close();

   private:
    int fd_ = -1;
  };

  struct CloseDirectory {
    void operator()(DIR* directory) const { ::closedir(directory); }
  };

  std::string root_;
  // Open from scan to scan and rewound: opening it anew costs a 32 KB buffer each time, whose
  // allocation after a scan's worth of small frees is as dear as listing the table.
  std::unique_ptr<DIR, CloseDirectory> directory_;
  KeptFile uptime_;
  KeptFile loadavg_;
  double ticksPerSecond_;
  size_t keptStatFiles_ = 0;  // declared before the records that count down on it when they go
  // The processes of the last scan, in pid order (walked in step with the listing), and those
  // this scan found new.
  std::vector<Known> known_;
  std::vector<Known> arrivals_;
  std::unordered_map<uint64_t, std::optional<std::string>> ttyNames_;
  uint32_t scans_ = 0;
  uint32_t listedInScan_ = 0;
  std::optional<int32_t> lastPid_;  // the last pid handed out, as of the last scan
  bool lastScanProbed_ = false;
  std::vector<int32_t> probeAgain_;
  bool probesTrusted_ = true;  // until a listing finds a process the probes missed
  // Pid and inode by pid, reused from scan to scan: the last scan's processes, then this one's.
  std::vector<std::pair<int32_t, uint64_t>> listing_;
  const PSRow* filledRows_ = nullptr;  // the rows the last scan filled, and how many
  size_t filledCount_ = 0;
  std::string text_;
  std::string raw_;
  uint64_t revisions_ = 0;  // one per read, for PSRow::revision
  size_t statReads_ = 0;
  size_t commandLineReads_ = 0;
  FreedMemoryRelease freedMemory_;
};

// The sampler for this system: /proc, or ps and lsof when TOVAMI_PROCESS_SAMPLER=ps (to compare
// the two, or where /proc is not mounted).
std::unique_ptr<ProcessSampler> makeLinuxProcessSampler();

// "a\0b\0" -> "a b": arguments joined by single spaces, trailing terminators dropped, control
// characters and bytes that are not UTF-8 shown as "?" (as ps shows them), byte for byte, so
// `argumentEnds` (where each argument ends) holds for the text too.
std::string commandLineText(std::string_view raw, std::vector<uint32_t>* argumentEnds = nullptr);

}  // namespace tovami::linux_backend
