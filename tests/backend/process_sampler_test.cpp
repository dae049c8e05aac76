// The Linux process backends against the real system: the tool launcher with real programs, the /proc
// sampler on a tree built in a temp folder, and both samplers on the live table.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "agents/process_sampling.h"
#include "linux/agents/proc_sampler.h"
#include "linux/agents/process_runner.h"

extern char** environ;

namespace tovami::linux_backend {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using Clock = std::chrono::steady_clock;

fs::path makeTempDir(const char* prefix) {
  auto dir = fs::temp_directory_path() / (prefix + std::to_string(std::random_device{}()));
  fs::create_directories(dir);
  return dir;
}

bool alive(const fs::path& pidFile) {  // whether the process whose pid a script wrote there still runs
  pid_t pid = 0;
  std::ifstream(pidFile) >> pid;
  return pid > 0 && ::kill(pid, 0) == 0;
}

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

ToolRun shell(const std::string& script, double timeout = 5.0) {
  return PosixProcessLauncher().run("/bin/sh", {"-c", script}, timeout);
}

TEST(PosixProcessLauncher, CapturesStandardOutputOnlyAndStopsToolsThatHangOrFlood) {
  const auto plain = shell("echo out; echo err >&2; read line; echo \"stdin:$line\"");
  EXPECT_EQ(plain.outcome, ToolRun::Outcome::finished);
  EXPECT_EQ(plain.output, "out\nstdin:\n");  // stderr dropped, stdin empty
  PosixProcessLauncher launcher;
  EXPECT_EQ(launcher.run("/bin/echo", {"a  b", "$HOME", "*"}, 5.0).output, "a  b $HOME *\n");
  // All of a large output, read to its end after the tool exits, however loaded the machine.
  for (int i = 0; i < 3; ++i) {
    const auto large = shell("head -c 3000000 /dev/zero | tr '\\0' x", 60.0);
    EXPECT_EQ(large.outcome, ToolRun::Outcome::finished);
    EXPECT_EQ(large.output.size(), 3000000u);
    EXPECT_EQ(large.output.find_first_not_of('x'), std::string::npos);
  }
  const auto missing = launcher.run("/nonexistent/ps", {}, 5.0);
  EXPECT_EQ(missing.outcome, ToolRun::Outcome::failedToLaunch);
  EXPECT_EQ(missing.launchError, "No such file or directory");

  // A process left behind keeps the output open, idle or writing: the run ends shortly after the tool's
  // exit all the same, and fails, since the tool's output may be incomplete.
  for (const char* heir : {"sleep 6 &", "(while :; do echo more; sleep 0.01; done) &"}) {
    const auto start = Clock::now();
    const auto cut = shell(std::string("echo done; ") + heir + " exit 0", 10.0);
    EXPECT_EQ(cut.outcome, ToolRun::Outcome::cutShort) << heir;
    EXPECT_TRUE(cut.output.empty()) << heir;
    EXPECT_LT(secondsSince(start), 4.0) << heir;
  }

  // A tool that hangs or floods its output is stopped; one that ignores the polite request is killed a second later.
  const auto pidFile = makeTempDir("tovami-runner-") / "pid";
  for (const auto& [script, timeout, within] : {std::tuple{"exec sleep 30", 0.5, 1.5},
                                                 {"trap '' TERM; while :; do sleep 0.05; done", 0.3, 0.3 + 1.0 + 0.5}}) {
    const auto start = Clock::now();
    const auto run = shell("echo partial; echo $$ > '" + pidFile.string() + "'; " + script, timeout);
    EXPECT_EQ(run.outcome, ToolRun::Outcome::timedOut) << script;
    EXPECT_TRUE(run.output.empty()) << script;
    EXPECT_GE(secondsSince(start), timeout - 0.05) << script;
    EXPECT_LT(secondsSince(start), within) << script;
    EXPECT_FALSE(alive(pidFile)) << script;
  }
  fs::remove_all(pidFile.parent_path());
  const auto start = Clock::now();
  const auto run = PosixProcessLauncher().run("/usr/bin/yes", {}, 20.0);
  EXPECT_EQ(run.outcome, ToolRun::Outcome::tooMuchOutput);
  EXPECT_TRUE(run.output.empty());
  EXPECT_LT(secondsSince(start), 15.0);
}

// ---- /proc sampler on a tree of its own -----------------------------------------------------

class FakeProc : public ::testing::Test {
 protected:
  void SetUp() override { uptime(1000.5); }
  void TearDown() override { fs::remove_all(root); }
  void write(const fs::path& relative, const std::string& bytes) {
    fs::create_directories((root / relative).parent_path());
    std::ofstream(root / relative, std::ios::binary) << bytes;
  }
  void uptime(double seconds) { write("uptime", std::to_string(seconds) + " 3000.00\n"); }
  // A stat line with the fields the sampler reads; `startedAt` in seconds since boot; `exitSignal` -1: a thread.
  void process(int pid, const std::string& name, char state, int ppid, int ttyNumber, double cpu,
               double startedAt, const std::string& cmdline, int exitSignal = 17) {
    using std::to_string;
    const auto inTicks = [this](double seconds) { return to_string(std::lround(seconds * ticks)); };
    write(to_string(pid) + "/stat", to_string(pid) + " (" + name + ") " + state + " " + to_string(ppid) + " 1 1 " +
                                        to_string(ttyNumber) + " -1 4194560 100 0 0 0 " + inTicks(cpu) +
                                        " 0 0 0 20 0 1 0 " + inTicks(startedAt) +
                                        " 1000 200 18446744073709551615 0 0 0 0 0 0 0 0 0 0 0 0 " +
                                        to_string(exitSignal) + "\n");
    write(std::to_string(pid) + "/cmdline", cmdline);
  }
  static const PSRow* find(const std::optional<std::vector<PSRow>>& rows, int pid) {
    for (const auto& row : rows.value())
      if (row.pid == pid) return &row;
    return nullptr;
  }

  fs::path root = makeTempDir("tovami-proc-");
  double ticks = static_cast<double>(::sysconf(_SC_CLK_TCK));
};

TEST_F(FakeProc, ReadsRowsAsPsPrintsThemWithTheRealArgumentsAndWorkingDirectories) {
  process(1, "init", 'S', 0, 0, 0, 0, "/sbin/init\0splash\0"s);
  process(42, "claude", 'S', 7, (136 << 8) | 3, 2.5, 100, "/home/John Smith/bin/claude\0--model\0\0opus\0"s);
  process(43, "weird) (name", 'R', 42, (4 << 8) | 65, 0, 100, "/bin/x\0line\nfeed\0caf\xc3\xa9\0\xff\0"s);
  process(2, "kthreadd", 'S', 0, 0, 0, 0, "");
  process(44, "gone", 'Z', 42, 0, 0, 100, "");
  write("self/stat", "not a pid directory");

  ProcSampler sampler(root.string());
  const auto rows = sampler.sampleProcesses();
  // Ascending pids; an empty argument keeps its separator; control characters and non-UTF-8 bytes show
  // as "?"; kernel threads and zombies by name; each row carries its start in ticks since boot.
  const auto started = static_cast<uint64_t>(100 * ticks);
  const std::vector<PSRow> expected{
      {1, 0, std::nullopt, 0, 1000.5, "/sbin/init splash", {10, 17}, 0},
      {2, 0, std::nullopt, 0, 1000.5, "[kthreadd]", {}, 0},
      {42, 7, "pts/3", 2.5, 900.5, "/home/John Smith/bin/claude --model  opus", {27, 35, 36, 41}, started},
      {43, 42, "ttyS1", 0, 900.5, "/bin/x line?feed caf\xc3\xa9 ?", {6, 16, 22, 24}, started},
      {44, 42, std::nullopt, 0, 900.5, "[gone] <defunct>", {}, started}};
  EXPECT_EQ(rows, expected);  // with the argument ends, a path with spaces stays one argument
  // Into the rows of an earlier scan, more or fewer of them: the same rows.
  for (size_t stale : {2, 9}) {
    std::vector<PSRow> kept(stale, PSRow{7, 7, "pts/9", 1, 1, std::string(300, 'x'), {1, 2, 3}, 5});
    ASSERT_TRUE(sampler.sampleInto(kept));
    EXPECT_EQ(kept, expected);
  }

  fs::create_symlink("/home/u/My Project", root / "42" / "cwd");
  EXPECT_EQ(sampler.workingDirectories({42, 43}),
            (std::map<int32_t, std::string>{{42, "/home/u/My Project"}}));

  // Open files: paths only, no sockets, pipes, devices or deleted files.
  fs::create_directories(root / "42" / "fd");
  for (const auto& [fd, target] : {std::pair{"3", "/home/u/.codex/sessions/rollout-1.jsonl"},
                                   {"4", "socket:[1234]"}, {"5", "/dev/pts/3"}, {"6", "/tmp/old.jsonl (deleted)"}})
    fs::create_symlink(target, root / "42" / "fd" / fd);
  EXPECT_EQ(sampler.openFiles(42), std::vector<std::string>{"/home/u/.codex/sessions/rollout-1.jsonl"});
  EXPECT_TRUE(sampler.openFiles(43).empty());
}

TEST_F(FakeProc, SkipsEntriesThatVanishOrMakeNoSense) {
  process(10, "ok", 'S', 1, 0, 0, 0, std::string("ok\0", 3));
  write("11/cmdline", "no stat: the process exited before we looked");
  process(12, "raced", 'S', 1, 0, 0, 0, "");
  fs::remove(root / "12" / "cmdline");  // exited between the two reads
  write("13/stat", "13 (truncated");
  write("14/stat", "14 (x) S notanumber 1 1 0");
  fs::create_directories(root / "15");

  ProcSampler sampler(root.string());
  const auto rows = sampler.sampleProcesses();
  ASSERT_EQ(rows.value().size(), 1u);
  EXPECT_EQ(rows->front().pid, 10);
  write("uptime", "unreadable\n");
  EXPECT_EQ(sampler.sampleProcesses(), std::nullopt);
  EXPECT_EQ(ProcSampler((root / "missing").string()).sampleProcesses(), std::nullopt);
}

TEST_F(FakeProc, ReadsNewProcessesAgentTreesYoungOnesAndATenthForExecs) {
  constexpr int kPts1 = (136 << 8) | 1;
  process(20, "claude", 'S', 1, 0, 1, 0, "claude\0"s);
  process(21, "make", 'S', 20, 0, 1, 0, "make\0"s);  // below the agent
  process(30, "bash", 'S', 1, kPts1, 1, 0, "bash\0"s);
  process(31, "node", 'S', 1, 0, 0, 999, "node\0/x/server.js\0"s);  // 1.5 s old
  ProcSampler sampler(root.string());
  // Into the same rows each time, as the watcher samples: a row that changed must not stay.
  std::vector<PSRow> kept;
  const auto scan = [&] { return sampler.sampleInto(kept) ? std::optional(kept) : std::nullopt; };
  const auto reads = [&] { return std::pair<size_t, size_t>(sampler.statReads(), sampler.commandLineReads()); };
  ASSERT_TRUE(scan());
  EXPECT_EQ(reads(), (std::pair<size_t, size_t>(4, 4)));

  // The agent's tree every scan, with its CPU time; a young process once a second.
  process(21, "make", 'S', 20, 0, 7, 0, "make\0"s);
  process(30, "bash", 'S', 1, kPts1, 9, 0, "bash\0"s);
  uptime(1000.9);
  EXPECT_DOUBLE_EQ(find(scan(), 21)->cpuTime, 7);
  EXPECT_EQ(sampler.statReads(), 6u);
  uptime(1002);
  ASSERT_TRUE(scan());
  EXPECT_EQ(reads(), (std::pair<size_t, size_t>(9, 5)));  // the young one's command line
  // A child the agent starts later is watched from then on.
  process(22, "cc", 'S', 21, 0, 1, 0, "cc\0"s);
  ASSERT_TRUE(scan());
  process(22, "cc", 'S', 21, 0, 4, 0, "cc\0"s);
  EXPECT_DOUBLE_EQ(find(scan(), 22)->cpuTime, 4);

  // A program replaced in place (same pid, inode, start) shows within kVerifyEvery scans in a terminal.
  const auto scansToSee = [&](int pid, const std::string& args) {
    int scans = 0;
    while (find(scan(), pid)->args != args && scans < 1000) ++scans;
    return scans;
  };
  process(30, "claude", 'S', 1, kPts1, 9, 0, "claude\0--resume\0"s);
  EXPECT_LT(scansToSee(30, "claude --resume"), static_cast<int>(ProcSampler::kVerifyEvery));
  // The same name from another program file (node running another script after an exec): the file tells.
  process(32, "node", 'S', 1, kPts1, 0, 0, "node\0/x/a.js\0"s);
  fs::create_symlink("/usr/bin/node", root / "32" / "exe");
  ASSERT_TRUE(scan());
  process(32, "node", 'S', 1, kPts1, 0, 0, "node\0/x/claude\0"s);
  fs::remove(root / "32" / "exe");
  fs::create_symlink("/opt/node22/bin/node", root / "32" / "exe");
  EXPECT_LT(scansToSee(32, "node /x/claude"), static_cast<int>(ProcSampler::kVerifyEvery));
  process(31, "codex", 'S', 1, 0, 0, 999, "codex\0"s);  // outside one: within kVerifyWithoutTerminalEvery
  const int withoutTerminal = scansToSee(31, "codex");
  EXPECT_LT(withoutTerminal, static_cast<int>(ProcSampler::kVerifyWithoutTerminalEvery));
  EXPECT_GE(withoutTerminal, static_cast<int>(ProcSampler::kVerifyEvery));
  // A reused pid is another /proc entry (another inode): read at once.
  fs::rename(root / "31", root / "old31");
  process(31, "aider", 'S', 1, 0, 0, 1001, "aider\0"s);
  EXPECT_EQ(find(scan(), 31)->args, "aider");
}

TEST_F(FakeProc, BetweenListingsProbesThePidsHandedOutSince) {
  const auto lastPid = [&](int pid) { write("loadavg", "0.01 0.02 0.00 1/90 " + std::to_string(pid) + "\n"); };
  const auto pids = [](const std::optional<std::vector<PSRow>>& rows) {
    std::vector<int> out;
    for (const auto& row : rows.value()) out.push_back(row.pid);
    return out;
  };
  for (int pid = 100; pid < 110; ++pid) process(pid, "sleep", 'S', 1, 0, 0, 0, "sleep\0"s);
  lastPid(120);
  ProcSampler sampler(root.string());
  ASSERT_TRUE(sampler.sampleProcesses());

  // Since then: a process, a thread, a pid already gone; one whose pid came before the last scan but
  // showed only after it; one that ended.
  process(121, "make", 'S', 1, 0, 0, 999, "make\0"s);
  process(122, "make", 'S', 1, 0, 0, 999, "make\0"s, -1);
  process(119, "cargo", 'S', 1, 0, 0, 999, "cargo\0"s);
  fs::remove_all(root / "109");
  lastPid(123);
  EXPECT_EQ(pids(sampler.sampleProcesses()),
            (std::vector<int>{100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 119, 121}));
  // Nothing handed out since: the pid that showed nothing is probed once more, then nothing is read.
  const size_t reads = sampler.statReads();
  ASSERT_TRUE(sampler.sampleProcesses());
  ASSERT_TRUE(sampler.sampleProcesses());
  EXPECT_EQ(sampler.statReads(), reads + 1);
  // The one that ended is dropped by the next listing.
  for (uint32_t scan = 4; scan < ProcSampler::kListEvery; ++scan) ASSERT_TRUE(sampler.sampleProcesses());
  EXPECT_FALSE(find(sampler.sampleProcesses(), 109));

  // Pids counted back (they wrapped around), or too many handed out to probe: listed at once.
  process(30, "gemini", 'S', 1, 0, 0, 999, "gemini\0"s);
  lastPid(20);
  EXPECT_TRUE(find(sampler.sampleProcesses(), 30));
  process(31, "gemini", 'S', 1, 0, 0, 999, "gemini\0"s);
  lastPid(20 + static_cast<int>(ProcSampler::kMinProbes) + 4);
  EXPECT_TRUE(find(sampler.sampleProcesses(), 31));

  // A listing finds a process the probes missed: /proc/loadavg is not trusted, every scan lists from then on.
  lastPid(90);
  ASSERT_TRUE(sampler.sampleProcesses());
  process(40, "aider", 'S', 1, 0, 0, 999, "aider\0"s);
  int scans = 1;
  while (!find(sampler.sampleProcesses(), 40)) ++scans;
  EXPECT_EQ(scans, static_cast<int>(ProcSampler::kListEvery) - 1);
  process(41, "aider", 'S', 1, 0, 0, 999, "aider\0"s);
  EXPECT_TRUE(find(sampler.sampleProcesses(), 41));
}

// ---- Both samplers on the live table --------------------------------------------------------

TEST(LiveProcessTable, ProcAndPsAgree) {
  const std::vector<std::string_view> arguments{"/bin/sh", "-c", "while :; do sleep 1; done", "x  y"};
  std::vector<pid_t> children(5);
  std::vector<std::string> strings(arguments.begin(), arguments.end());
  std::vector<char*> argv{strings[0].data(), strings[1].data(), strings[2].data(), strings[3].data(), nullptr};
  for (pid_t& pid : children) ASSERT_EQ(::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  PosixProcessLauncher launcher;
  ToolProcessSampler tools(launcher, linuxToolPaths());
  ProcSampler native, later;
  // /proc before and after ps: only processes that did not change meanwhile are compared.
  const auto fromProc = native.sampleProcesses();
  const auto fromPs = tools.sampleProcesses().value_or(std::vector<PSRow>{});
  const auto fromProcAfter = later.sampleProcesses();
  ASSERT_TRUE(fromProc && fromProcAfter && !fromPs.empty());
  std::map<int32_t, PSRow> before, after;
  for (const auto& row : *fromProc) before[row.pid] = row;
  for (const auto& row : *fromProcAfter) after[row.pid] = row;
  int compared = 0;
  for (const auto& ps : fromPs) {
    if (!before.contains(ps.pid) || !after.contains(ps.pid)) continue;  // ps itself, or came and went
    const PSRow &proc = before[ps.pid], &next = after[ps.pid];
    if (proc.args != next.args || proc.ppid != next.ppid || proc.tty != next.tty ||
        next.elapsed - proc.elapsed > 5)
      continue;  // changed while we looked (an exec, a new parent, a reused pid)
    ++compared;
    EXPECT_EQ(proc.ppid, ps.ppid) << ps.args;
    EXPECT_EQ(proc.tty, ps.tty) << ps.args;
    // ps prints whole seconds, truncated, between the two /proc samples.
    EXPECT_GE(next.cpuTime + 0.01, ps.cpuTime) << ps.args;
    EXPECT_LT(proc.cpuTime, ps.cpuTime + 1.01) << ps.args;
    EXPECT_NEAR(proc.elapsed, ps.elapsed, 2.0) << ps.args;
    // Command lines only for our own children: ps and /proc need not print others' control characters,
    // invalid UTF-8 or huge arguments alike, and kernel workers rename themselves as they take on work.
    EXPECT_EQ(std::count(children.begin(), children.end(), ps.pid) ? proc.args : ps.args, ps.args);
  }
  EXPECT_GE(compared, static_cast<int>(fromPs.size() * 8 / 10));
  for (pid_t pid : children) {
    EXPECT_EQ(commandArguments(before[pid]), arguments);
    EXPECT_EQ(before[pid].ppid, ::getpid());
  }
  // Working directories agree too.
  const std::vector<int32_t> pids{::getpid(), children.front()};
  const auto lsof = tools.workingDirectories(pids);
  EXPECT_EQ(native.workingDirectories(pids), lsof);
  EXPECT_EQ(lsof.at(::getpid()), fs::current_path().string());
  for (pid_t pid : children) ::kill(pid, SIGKILL), ::waitpid(pid, nullptr, 0);
}

// An agent's stat file is kept open between scans: its end must still show at the next scan.
TEST(LiveProcessTable, AWatchedProcessThatEndsLeavesTheNextScan) {
  std::string path = "/bin/sleep", name = "claude", seconds = "60";
  std::vector<char*> argv{name.data(), seconds.data(), nullptr};
  pid_t agent = 0;
  ASSERT_EQ(::posix_spawn(&agent, path.c_str(), nullptr, nullptr, argv.data(), environ), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ProcSampler sampler;
  const auto has = [&] {
    const auto rows = sampler.sampleProcesses().value();
    return std::any_of(rows.begin(), rows.end(), [&](const PSRow& row) { return row.pid == agent; });
  };
  EXPECT_TRUE(has());
  EXPECT_TRUE(has());  // read through its kept stat file from now on
  ::kill(agent, SIGKILL), ::waitpid(agent, nullptr, 0);
  EXPECT_FALSE(has());
}

}  // namespace
}  // namespace tovami::linux_backend
