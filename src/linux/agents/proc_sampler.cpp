#include "linux/agents/proc_sampler.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "agents/process_sampling.h"
#include "agents/process_table.h"
#include "linux/agents/process_runner.h"
#include "platform/log.h"

namespace tovami::linux_backend {
namespace {

enum class ReadResult { ok, missing };

// How a file ends: most need a read that returns 0; a one-record /proc file (stat) is produced
// whole by its first read, so a short read already is the end (one system call saved per process).
enum class Ending { atZeroRead, atShortRead };

// Reads a whole (small or bounded) file. /proc entries of a process that exits mid-read vanish
// (ENOENT) or fail (ESRCH): both count as missing.
ReadResult readFile(int directoryFd, const char* path, std::string& out, size_t limit,
                    Ending ending = Ending::atZeroRead) {
  out.clear();
  const int fd = ::openat(directoryFd, path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return ReadResult::missing;
  char buffer[4096];
  ReadResult result = ReadResult::ok;
  while (out.size() < limit) {
    const size_t want = std::min(sizeof buffer, limit - out.size());
    const ssize_t got = ::read(fd, buffer, want);
    if (got > 0) {
      out.append(buffer, static_cast<size_t>(got));
      if (ending == Ending::atShortRead && static_cast<size_t>(got) < want) break;
    } else if (got == 0) {
      break;
    } else if (errno != EINTR) {
      result = ReadResult::missing;
      break;
    }
  }
  ::close(fd);
  return result;
}

template <typename T>
bool parseNumber(std::string_view text, T& value) {
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

// "<pid>/<leaf>", relative to /proc (snprintf's format parsing costs more than the
// whole path, and a scan makes hundreds).
struct ProcPath {
  ProcPath(int32_t pid, std::string_view leaf) {
    char* end = std::to_chars(text, text + 16, pid).ptr;
    *end++ = '/';
    end = std::copy(leaf.begin(), leaf.end(), end);
    *end = '\0';
  }
  char text[32];
};

// Orders the (pid, inode) pairs of a listing by pid alone.
constexpr auto byPid = [](const std::pair<int32_t, uint64_t>& a, const std::pair<int32_t, uint64_t>& b) {
  return a.first < b.first;
};

// The kernel's flag for its own threads (PF_KTHREAD in the stat "flags" field).
constexpr uint64_t kKernelThreadFlag = 0x00200000;

struct StatFields {
  std::string_view name;
  char state = '?';
  int32_t ppid = 0;
  uint64_t flags = 0;
  uint64_t ttyNumber = 0;
  uint64_t userTicks = 0;
  uint64_t systemTicks = 0;
  uint64_t startTicks = 0;
  std::optional<int64_t> exitSignal;  // -1 for a thread that is not its process's first
};

// /proc/<pid>/stat: "pid (name) state ppid pgrp session tty_nr tpgid flags minflt cminflt majflt
// cmajflt utime stime cutime cstime priority nice threads itrealvalue starttime ...". The name
// may hold spaces and parentheses, so the fields start after the last ")".
std::optional<StatFields> parseStat(std::string_view text) {
  const size_t open = text.find('(');
  const size_t close = text.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) return std::nullopt;
  StatFields fields;
  fields.name = text.substr(open + 1, close - open - 1);
  std::string_view rest = text.substr(close + 1);
  // Fields 3 to 22 are needed; field 38 (the exit signal) is read where it is there.
  constexpr size_t kNeeded = 20, kExitSignal = 35;
  std::string_view tokens[kExitSignal + 1];
  size_t found = 0;
  for (auto& token : tokens) {
    const size_t start = rest.find_first_not_of(" \n");
    if (start == std::string_view::npos) break;
    ++found;
    rest.remove_prefix(start);
    const size_t end = std::min(rest.find_first_of(" \n"), rest.size());
    token = rest.substr(0, end);
    rest.remove_prefix(end);
  }
  if (found < kNeeded || tokens[0].size() != 1) return std::nullopt;
  fields.state = tokens[0][0];
  int64_t tty = 0;
  if (!parseNumber(tokens[1], fields.ppid) || !parseNumber(tokens[4], tty) ||
      !parseNumber(tokens[6], fields.flags) || !parseNumber(tokens[11], fields.userTicks) ||
      !parseNumber(tokens[12], fields.systemTicks) || !parseNumber(tokens[19], fields.startTicks))
    return std::nullopt;
  fields.ttyNumber = static_cast<uint32_t>(tty);
  if (int64_t signal = 0; found > kExitSignal && parseNumber(tokens[kExitSignal], signal))
    fields.exitSignal = signal;
  return fields;
}

// Appends one code point's worth of bytes, or "?" for a byte that does not start valid UTF-8.
size_t appendSanitized(std::string_view raw, size_t i, std::string& out) {
  const auto c = static_cast<unsigned char>(raw[i]);
  if (c < 0x80) {
    out += (c < 0x20 || c == 0x7f) ? '?' : static_cast<char>(c);
    return 1;
  }
  const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
  if (length > 1 && i + length <= raw.size() && isValidUtf8(raw.substr(i, length))) {
    out.append(raw.substr(i, length));
    return length;
  }
  out += '?';
  return 1;
}

// The portable sampler with the launcher it runs its tools through.
class LinuxToolSampler final : public ProcessSampler {
 public:
  LinuxToolSampler() : sampler_(launcher_, linuxToolPaths()) {}
  std::optional<std::vector<PSRow>> sampleProcesses() override { return sampler_.sampleProcesses(); }
  std::map<int32_t, std::string> workingDirectories(const std::vector<int32_t>& pids) override {
    return sampler_.workingDirectories(pids);
  }

 private:
  PosixProcessLauncher launcher_;
  ToolProcessSampler sampler_;
};

}  // namespace

std::unique_ptr<ProcessSampler> makeLinuxProcessSampler() {
  const char* choice = std::getenv("TOVAMI_PROCESS_SAMPLER");
  if ((choice && std::string_view(choice) == "ps") || ::access("/proc/self/stat", R_OK) != 0)
    return std::make_unique<LinuxToolSampler>();
  return std::make_unique<ProcSampler>();
}

std::string commandLineText(std::string_view raw, std::vector<uint32_t>* argumentEnds) {
  while (!raw.empty() && raw.back() == '\0') raw.remove_suffix(1);
  if (argumentEnds) argumentEnds->clear();
  std::string text;
  text.reserve(raw.size());
  for (size_t i = 0; i < raw.size();) {
    if (raw[i] == '\0') {
      if (argumentEnds) argumentEnds->push_back(static_cast<uint32_t>(text.size()));
      text += ' ';
      ++i;
    } else {
      i += appendSanitized(raw, i, text);
    }
  }
  if (argumentEnds && !text.empty()) argumentEnds->push_back(static_cast<uint32_t>(text.size()));
  return text;
}

ProcSampler::ProcSampler(std::string procRoot) : root_(std::move(procRoot)) {
  const long ticks = ::sysconf(_SC_CLK_TCK);
  ticksPerSecond_ = ticks > 0 ? static_cast<double>(ticks) : 100.0;
}

ProcSampler::KeptFile::~KeptFile() {
  close();
}

void ProcSampler::KeptFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool ProcSampler::KeptFile::read(int rootFd, const char* name, std::string& out) {
  if (fd_ < 0) fd_ = ::openat(rootFd, name, O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return false;
  // A one-record /proc file is produced afresh by a read at its start, whole.
  char buffer[256];
  ssize_t got = -1;
  do got = ::pread(fd_, buffer, sizeof buffer, 0);
  while (got < 0 && errno == EINTR);
  if (got <= 0) {
    close();
    return false;
  }
  out.assign(buffer, static_cast<size_t>(got));
  return true;
}

std::optional<std::string> ProcSampler::terminalName(uint64_t ttyNumber) {
  if (ttyNumber == 0) return std::nullopt;
  const uint64_t major = (ttyNumber >> 8) & 0xfff;
  const uint64_t minor = (ttyNumber & 0xff) | ((ttyNumber >> 12) & 0xfff00);
  if (major >= 136 && major <= 143) return "pts/" + std::to_string((major - 136) * 256 + minor);
  if (major == 4) return minor < 64 ? "tty" + std::to_string(minor) : "ttyS" + std::to_string(minor - 64);
  auto cached = ttyNames_.find(ttyNumber);
  if (cached != ttyNames_.end()) return cached->second;
  // Any other character device: the kernel's name for it.
  std::optional<std::string> name;
  const std::string link = "/sys/dev/char/" + std::to_string(major) + ":" + std::to_string(minor);
  char target[512];
  const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
  if (length > 0) {
    std::string_view path(target, static_cast<size_t>(length));
    name = std::string(path.substr(path.rfind('/') + 1));
  }
  ttyNames_.emplace(ttyNumber, name);
  return name;
}

void ProcSampler::Details::closeStat() {
  if (statFd < 0) return;
  ::close(statFd);
  statFd = -1;
  --*keptCount;
}

// Into text_: through the kept file of a watched process (opened on its first read while watched),
// else by path.
bool ProcSampler::readStat(int rootFd, int32_t pid, Known& known) {
  ++statReads_;
  Details& details = *known.details;
  const ProcPath path(pid, "stat");
  if (details.statFd < 0 && known.watched && keptStatFiles_ < kMaxKeptStatFiles) {
    details.statFd = ::openat(rootFd, path.text, O_RDONLY | O_CLOEXEC);
    if (details.statFd < 0) return false;
    details.keptCount = &keptStatFiles_;
    ++keptStatFiles_;
  }
  if (details.statFd < 0)
    return readFile(rootFd, path.text, text_, 4096, Ending::atShortRead) == ReadResult::ok;
  text_.resize(4096);
  ssize_t got = -1;
  do got = ::pread(details.statFd, text_.data(), text_.size(), 0);
  while (got < 0 && errno == EINTR);
  text_.resize(got > 0 ? static_cast<size_t>(got) : 0);
  if (got > 0) return true;
  details.closeStat();  // the process is gone
  return false;
}

ProcSampler::Found ProcSampler::read(int rootFd, int32_t pid, Known& known, double uptime, bool fresh) {
  if (!readStat(rootFd, pid, known)) return Found::nothing;
  const auto stat = parseStat(text_);
  // A thread's pid leads to its own /proc entry too (a probe may find one): not a process.
  if (!stat) return Found::nothing;
  if (stat->exitSignal == -1) return Found::thread;

  known.readAt = uptime;
  PSRow& row = known.details->row;
  row.revision = ++revisions_;
  row.pid = pid;
  row.ppid = stat->ppid;
  known.ppid = stat->ppid;
  row.tty = terminalName(stat->ttyNumber);
  known.hasTerminal = row.tty.has_value();
  row.cpuTime = static_cast<double>(stat->userTicks + stat->systemTicks) / ticksPerSecond_;
  row.elapsed = std::max(0.0, uptime - static_cast<double>(stat->startTicks) / ticksPerSecond_);
  row.startTicks = stat->startTicks;
  known.kernelThread = (stat->flags & kKernelThreadFlag) != 0;
  const bool changed = fresh || known.startTicks != stat->startTicks || known.details->name != stat->name;
  known.startTicks = stat->startTicks;
  if (changed) known.details->name = std::string(stat->name);

  if (stat->state == 'Z') {
    // A zombie has lost its command line; ps shows its name in brackets.
    row.args = "[" + commandLineText(stat->name) + "] <defunct>";
    row.argumentEnds.clear();
    known.agent = false;
    known.settled = true;
    return Found::process;
  }
  if (!changed && known.settled) return Found::process;

  ++commandLineReads_;
  if (readFile(rootFd, ProcPath(pid, "cmdline").text, raw_, kMaxCommandLineBytes) != ReadResult::ok)
    return Found::nothing;  // exited meanwhile
  row.args = commandLineText(raw_, &row.argumentEnds);
  if (row.args.empty()) {
    // Kernel threads have no command line; ps shows their name in brackets.
    row.args = "[" + commandLineText(stat->name) + "]";
  }
  known.agent = recognizeAgentRow(row).has_value();
  known.settled = row.elapsed >= kSettleSeconds;
  // The program file that goes with this command line, for the exec checks to compare with.
  if (known.settled && !known.kernelThread) lookAtProgram(rootFd, pid, known);
  return Found::process;
}

// An exec replaces the program file behind /proc/<pid>/exe: one readlink, where reading stat takes
// an open, a read and a close.
ProcSampler::Program ProcSampler::lookAtProgram(int rootFd, int32_t pid, Known& known) {
  if (known.exeUnreadable) return Program::unknown;
  char target[4096];
  const ssize_t length = ::readlinkat(rootFd, ProcPath(pid, "exe").text, target, sizeof target);
  if (length < 0 && (errno == EACCES || errno == EPERM)) known.exeUnreadable = true;  // another user's
  if (length <= 0) return Program::unknown;
  const std::string_view program(target, static_cast<size_t>(length));
  std::string& exe = known.details->exe;
  if (program == exe) return Program::same;
  const bool first = exe.empty();
  exe = program;
  return first ? Program::unknown : Program::other;
}

std::optional<std::vector<PSRow>> ProcSampler::sampleProcesses() {
  std::vector<PSRow> rows;
  if (!sampleInto(rows)) return std::nullopt;
  return rows;
}

bool ProcSampler::sampleInto(std::vector<PSRow>& rows) {
  if (!directory_) {
    directory_.reset(::opendir(root_.c_str()));
    if (!directory_) return false;
  }
  DIR* directory = directory_.get();
  const int rootFd = ::dirfd(directory);
  double uptime = 0;
  if (!uptime_.read(rootFd, "uptime", text_) ||
      !parseNumber(std::string_view(text_).substr(0, text_.find(' ')), uptime)) {
    // Opened afresh next time.
    directory_.reset();
    uptime_.close();
    loadavg_.close();
    return false;
  }
  ++scans_;
  // Read before the listing: a process that starts in between is listed and probed next time.
  const std::optional<int32_t> lastPid = lastAllocatedPid(rootFd);
  const std::optional<int32_t> previousLastPid = lastPid_;
  const bool probed = probesTrusted_ && probeNewPids(lastPid);
  if (!probed) listAll(directory);
  // A listing after a probe that finds a process the probe should have seen shows that
  // /proc/loadavg does not count this table's pids (another pid namespace, a faked file).
  std::optional<int32_t> probedUpTo;
  if (!probed && lastScanProbed_ && lastPid && lastPid_ && *lastPid >= *lastPid_)
    probedUpTo = *lastPid_ - kProbeOverlap;
  lastScanProbed_ = probed;
  lastPid_ = lastPid;
  bool missed = false;
  bool treeChanged = false;  // a process came or went, or changed its parent or agent status

  // Rows are assigned over the last scan's, whose strings mostly have the room already; where
  // they are this sampler's own from its last scan, a row that was not read again stays.
  const bool ownRows = !rows.empty() && rows.data() == filledRows_ && rows.size() == filledCount_;
  // The listing and the known processes are both in pid order: one walk along both, in memory
  // order. Newcomers wait in `arrivals_` and join once the walk is over.
  size_t count = 0, kept = 0, at = 0, stayed = 0;
  arrivals_.clear();
  for (size_t i = 0; i < listing_.size(); ++i) {
    const auto [pid, inode] = listing_[i];
    while (at < known_.size() && known_[at].pid < pid) ++at;  // ended: dropped after the walk
    const bool inserted = at == known_.size() || known_[at].pid != pid;
    missed = missed || (inserted && probedUpTo && pid <= *probedUpTo);
    Known& known = inserted ? arrivals_.emplace_back() : known_[at];
    known.pid = pid;
    // A probed pid has no inode yet (0): it is read as new, and once more at the next listing.
    const bool fresh = inserted || known.inode != inode;
    // Programs are started in place (a shell's `exec`) from terminals: those are checked often.
    const uint32_t verifyEvery = known.hasTerminal ? kVerifyEvery : kVerifyWithoutTerminalEvery;
    const bool verifyTurn = (static_cast<uint32_t>(pid) + scans_) % verifyEvery == 0 && !known.kernelThread;
    const bool youngAgain = !known.settled && uptime - known.readAt >= kYoungRereadSeconds;
    // Where the program file cannot be told (gone, another user's), stat compares name and start.
    const Program program = verifyTurn ? lookAtProgram(rootFd, pid, known) : Program::same;
    const bool reread = fresh || youngAgain || known.watched || program != Program::same;
    if (fresh) known.details->closeStat();  // another process under this pid
    if (reread) {
      const auto [parent, agent] = std::pair(known.ppid, known.agent);
      const Found found = read(rootFd, pid, known, uptime, fresh || program == Program::other);
      treeChanged =
          treeChanged || fresh || found != Found::process || parent != known.ppid || agent != known.agent;
      if (found != Found::process) {
        if (inserted) arrivals_.pop_back();  // one known before is dropped after the walk, unseen
        // A pid just handed out whose process did not show yet: probed once more next time.
        if (probed && inode == 0 && found == Found::nothing && pid > *previousLastPid &&
            pid > *lastPid - kProbeOverlap)
          probeAgain_.push_back(pid);
        continue;
      }
      known.inode = inode;
    }
    // A row not read again has only its elapsed time brought up to date, in the rows handed out.
    const double elapsed =
        reread ? known.details->row.elapsed
               : std::max(0.0, uptime - static_cast<double>(known.startTicks) / ticksPerSecond_);
    known.seenInScan = scans_;
    if (!inserted) ++stayed;
    listing_[kept++] = listing_[i];  // the processes that are still there, for the next probe
    if (count >= rows.size()) {
      rows.push_back(known.details->row);
    } else if (PSRow& row = rows[count];
               !ownRows || reread || row.pid != pid || row.startTicks != known.startTicks) {
      row = known.details->row;
    }  // else the rest is as the last scan left it (its strings stay cold)
    rows[count++].elapsed = elapsed;
  }
  listing_.resize(kept);
  rows.resize(count);
  if (!probed && lastPid) {
    // The same for a listing: the last few pids handed out that it did not show.
    for (int32_t pid = std::max(1, *lastPid - kProbeOverlap + 1); pid <= *lastPid; ++pid)
      if (!std::binary_search(listing_.begin(), listing_.end(), std::pair<int32_t, uint64_t>(pid, 0), byPid))
        probeAgain_.push_back(pid);
  }
  if (missed) {
    probesTrusted_ = false;
    logError(log_categories::kAgentWatch,
             "/proc/loadavg does not name the last pid of this process table; listing /proc every scan");
  }
  // Both walk every process, whose entries have gone cold since the last scan: only when needed.
  if (stayed != known_.size()) {
    std::erase_if(known_, [this](const Known& known) { return known.seenInScan != scans_; });
    treeChanged = true;
  }
  if (!arrivals_.empty()) {
    const auto middle = static_cast<ptrdiff_t>(known_.size());
    known_.insert(known_.end(), std::make_move_iterator(arrivals_.begin()),
                  std::make_move_iterator(arrivals_.end()));
    std::inplace_merge(known_.begin(), known_.begin() + middle, known_.end(),
                       [](const Known& a, const Known& b) { return a.pid < b.pid; });
    arrivals_.clear();
  }
  if (treeChanged) markWatched();
  filledRows_ = rows.data();
  filledCount_ = rows.size();
  freedMemory_.scanned(rows.size());
  return true;
}

// /proc/loadavg ends with the pid the kernel handed out last (to a process or a thread).
std::optional<int32_t> ProcSampler::lastAllocatedPid(int rootFd) {
  if (!loadavg_.read(rootFd, "loadavg", text_)) return std::nullopt;
  std::string_view text(text_);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
  int32_t pid = 0;
  if (!parseNumber(text.substr(text.rfind(' ') + 1), pid) || pid <= 0) return std::nullopt;
  return pid;
}

void ProcSampler::listAll(DIR* directory) {
  ::rewinddir(directory);
  listing_.clear();
  while (const dirent* entry = ::readdir(directory)) {
    int32_t pid = 0;
    if (entry->d_name[0] >= '1' && entry->d_name[0] <= '9' &&
        parseNumber(std::string_view(entry->d_name), pid))
      listing_.emplace_back(pid, static_cast<uint64_t>(entry->d_ino));
  }
  std::sort(listing_.begin(), listing_.end());
  listedInScan_ = scans_;
}

// The pids handed out since the last scan are the only ones a new process can have: when they
// are few, the last listing plus those that name a process (not a thread) is the table.
bool ProcSampler::probeNewPids(std::optional<int32_t> lastPid) {
  std::vector<int32_t> again;
  again.swap(probeAgain_);
  if (!lastPid || !lastPid_ || listedInScan_ == 0 || scans_ - listedInScan_ >= kListEvery) return false;
  // Counting down means the pids wrapped around: one of the earlier ones may be back.
  if (*lastPid < *lastPid_) return false;
  const size_t handedOut = static_cast<size_t>(*lastPid - *lastPid_);
  if (handedOut > kMinProbes + listing_.size() / 4) return false;
  const auto listed = listing_.size();
  const auto probe = [&](int32_t pid) {
    // Listed already: it started between the last scan's two looks.
    if (!std::binary_search(listing_.begin(), listing_.begin() + static_cast<ptrdiff_t>(listed),
                            std::pair<int32_t, uint64_t>(pid, 0), byPid))
      listing_.emplace_back(pid, 0);  // a process, a thread or nothing: read() tells
  };
  for (int32_t pid : again)
    if (pid <= *lastPid_) probe(pid);
  for (int32_t pid = *lastPid_ + 1; pid <= *lastPid; ++pid) probe(pid);
  std::sort(listing_.begin() + static_cast<ptrdiff_t>(listed), listing_.end());
  std::inplace_merge(listing_.begin(), listing_.begin() + static_cast<ptrdiff_t>(listed), listing_.end());
  return true;
}

// Marks the agents and everything below them, for the next scan: one walk up from each process,
// stopping at the first process already decided.
void ProcSampler::markWatched() {
  const uint32_t mark = scans_;
  std::vector<Known*> chain;
  const auto find = [this](int32_t pid) -> Known* {
    const auto it = std::lower_bound(known_.begin(), known_.end(), pid,
                                     [](const Known& known, int32_t value) { return known.pid < value; });
    return it != known_.end() && it->pid == pid ? &*it : nullptr;
  };
  for (Known& known : known_) {
    chain.clear();
    bool watched = false;
    Known* at = &known;
    for (int generation = 0; generation <= kMaxAncestorGenerations; ++generation) {
      if (at->markedInScan == mark) {
        watched = at->watched;
        break;
      }
      chain.push_back(at);
      if (at->agent) {
        watched = true;
        break;
      }
      Known* parent = at->ppid > 0 && at->ppid != at->pid ? find(at->ppid) : nullptr;
      if (!parent) break;
      at = parent;
    }
    for (Known* member : chain) {
      member->watched = watched;
      member->markedInScan = mark;
    }
  }
}

std::map<int32_t, std::string> ProcSampler::workingDirectories(const std::vector<int32_t>& pids) {
  std::map<int32_t, std::string> directories;
  std::vector<char> target(4096);
  for (int32_t pid : pids) {
    const std::string link = root_ + "/" + std::to_string(pid) + "/cwd";
    const ssize_t length = ::readlink(link.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<size_t>(length) >= target.size()) continue;
    directories[pid] = std::string(target.data(), static_cast<size_t>(length));
  }
  return directories;
}

std::vector<std::string> ProcSampler::openFiles(int32_t pid) {
  std::vector<std::string> files;
  const std::string folder = root_ + "/" + std::to_string(pid) + "/fd";
  DIR* directory = ::opendir(folder.c_str());
  if (!directory) return files;
  const int folderFd = ::dirfd(directory);
  char target[4096];
  while (const dirent* entry = ::readdir(directory)) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    const ssize_t length = ::readlinkat(folderFd, entry->d_name, target, sizeof target);
    // Files only: sockets, pipes and anonymous descriptors do not start with "/".
    if (length <= 1 || static_cast<size_t>(length) >= sizeof target || target[0] != '/') continue;
    std::string_view path(target, static_cast<size_t>(length));
    if (path.ends_with(" (deleted)") || path.starts_with("/dev/")) continue;
    files.emplace_back(path);
    if (files.size() >= kMaxOpenFiles) break;
  }
  ::closedir(directory);
  return files;
}

}  // namespace tovami::linux_backend
