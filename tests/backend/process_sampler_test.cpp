// The Linux process backends against the real system: the tool launcher with real programs,
// the /proc sampler on a tree built in a temp folder, and both samplers on the live table.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "agents/process_sampling.h"
#include "linux/agents/proc_sampler.h"
#include "linux/agents/process_runner.h"
#include "linux/agents/x11_running_apps.h"

extern char** environ;

namespace tovami::linux_backend {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

fs::path makeTempDir(const char* prefix) {
  auto dir = fs::temp_directory_path() / (prefix + std::to_string(std::random_device{}()));
  fs::create_directories(dir);
  return dir;
}

std::string readText(const fs::path& file) {
  std::ifstream in(file);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool alive(pid_t pid) {
  return ::kill(pid, 0) == 0;
}

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

ToolRun shell(const std::string& script, double timeout = 5.0) {
  PosixProcessLauncher launcher;
  return launcher.run("/bin/sh", {"-c", script}, timeout);
}

TEST(PosixProcessLauncher, CapturesStandardOutputOnlyAndPassesArgumentsVerbatim) {
  const auto run = shell("echo out; echo err >&2; read line; echo \"stdin:$line\"");
  EXPECT_EQ(run.outcome, ToolRun::Outcome::finished);
  EXPECT_EQ(run.output, "out\nstdin:\n");  // stderr dropped, stdin empty

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

  // A process the tool left behind keeps the output open, idle or writing: the run ends shortly
  // after the tool's exit all the same, and fails, since the tool's output may be incomplete.
  for (const char* heir : {"sleep 6 &", "(while :; do echo more; sleep 0.01; done) &"}) {
    const auto start = Clock::now();
    const auto cut = shell(std::string("echo done; ") + heir + " exit 0", 10.0);
    EXPECT_EQ(cut.outcome, ToolRun::Outcome::cutShort) << heir;
    EXPECT_TRUE(cut.output.empty()) << heir;
    EXPECT_LT(secondsSince(start), 4.0) << heir;
  }
}

TEST(PosixProcessLauncher, StopsAToolThatHangsOrFloodsItsOutput) {
  const auto dir = makeTempDir("tovami-runner-");
  const auto pidFile = dir / "pid";
  auto start = Clock::now();
  auto run = shell("echo partial; echo $$ > '" + pidFile.string() + "'; exec sleep 30", 0.5);
  EXPECT_EQ(run.outcome, ToolRun::Outcome::timedOut);
  EXPECT_TRUE(run.output.empty());
  EXPECT_GE(secondsSince(start), 0.45);
  EXPECT_LT(secondsSince(start), 1.5);
  EXPECT_FALSE(alive(std::stoi(readText(pidFile))));

  // One that ignores the polite request is killed after one more second.
  start = Clock::now();
  run = shell("trap '' TERM; echo $$ > '" + pidFile.string() + "'; while :; do sleep 0.05; done", 0.3);
  EXPECT_EQ(run.outcome, ToolRun::Outcome::timedOut);
  EXPECT_LT(secondsSince(start), 0.3 + 1.0 + 0.5);
  EXPECT_FALSE(alive(std::stoi(readText(pidFile))));
  fs::remove_all(dir);

  start = Clock::now();
  run = PosixProcessLauncher().run("/usr/bin/yes", {}, 20.0);
  EXPECT_EQ(run.outcome, ToolRun::Outcome::tooMuchOutput);
  EXPECT_TRUE(run.output.empty());
  EXPECT_LT(secondsSince(start), 15.0);
}

// ---- /proc sampler on a tree of its own -----------------------------------------------------

class FakeProc : public ::testing::Test {
 protected:
  void SetUp() override {
    root = makeTempDir("tovami-proc-");
    ticks = static_cast<double>(::sysconf(_SC_CLK_TCK));
    write("uptime", "1000.50 3000.00\n");
  }
  void TearDown() override { fs::remove_all(root); }

  void write(const fs::path& relative, const std::string& bytes) {
    fs::create_directories((root / relative).parent_path());
    std::ofstream(root / relative, std::ios::binary) << bytes;
  }
  // A stat line with the fields the sampler reads.
  void process(int pid, const std::string& name, char state, int ppid, int ttyNumber, long utime, long stime,
               long startTicks, const std::string& cmdline) {
    const std::string stat = std::to_string(pid) + " (" + name + ") " + state + " " + std::to_string(ppid) +
                             " 1 1 " + std::to_string(ttyNumber) + " -1 4194560 100 0 0 0 " +
                             std::to_string(utime) + " " + std::to_string(stime) + " 0 0 20 0 1 0 " +
                             std::to_string(startTicks) + " 1000 200 18446744073709551615\n";
    write(std::to_string(pid) + "/stat", stat);
    write(std::to_string(pid) + "/cmdline", cmdline);
  }
  const PSRow* find(const std::vector<PSRow>& rows, int pid) {
    for (const auto& row : rows)
      if (row.pid == pid) return &row;
    return nullptr;
  }

  fs::path root;
  double ticks = 100;
};

TEST_F(FakeProc, ReadsRowsAsPsPrintsThemAndWorkingDirectoriesFromCwdLinks) {
  const long startedAt100s = static_cast<long>(100 * ticks);
  process(1, "init", 'S', 0, 0, 0, 0, 0, std::string("/sbin/init\0splash\0", 18));
  process(42, "claude", 'S', 7, (136 << 8) | 3, static_cast<long>(2 * ticks), static_cast<long>(ticks / 2),
          startedAt100s, std::string("claude\0--model\0\0opus\0", 22));
  process(43, "weird) (name", 'R', 42, (4 << 8) | 65, 0, 0, startedAt100s,
          std::string("/bin/x\0line\nfeed\0caf\xc3\xa9\0\xff\0", 25));
  process(2, "kthreadd", 'S', 0, 0, 0, 0, 0, "");
  process(44, "gone", 'Z', 42, 0, 0, 0, startedAt100s, "");
  write("self/stat", "not a pid directory");

  ProcSampler sampler(root.string());
  const auto rows = sampler.sampleProcesses();
  ASSERT_TRUE(rows);
  ASSERT_EQ(rows->size(), 5u);
  EXPECT_EQ((*rows)[0].pid, 1);  // ascending pids
  EXPECT_EQ(find(*rows, 1)->args, "/sbin/init splash");
  const PSRow* agent = find(*rows, 42);
  EXPECT_EQ(agent->ppid, 7);
  EXPECT_EQ(agent->tty, "pts/3");
  EXPECT_DOUBLE_EQ(agent->cpuTime, 2.5);
  EXPECT_NEAR(agent->elapsed, 900.5, 1e-6);
  EXPECT_EQ(agent->args, "claude --model  opus");  // an empty argument keeps its separator
  EXPECT_EQ(find(*rows, 43)->args, "/bin/x line?feed caf\xc3\xa9 ?");
  EXPECT_EQ(find(*rows, 43)->tty, "ttyS1");
  EXPECT_EQ(find(*rows, 1)->tty, std::nullopt);
  EXPECT_EQ(find(*rows, 2)->args, "[kthreadd]");
  EXPECT_EQ(find(*rows, 44)->args, "[gone] <defunct>");

  fs::create_symlink("/home/u/My Project", root / "42" / "cwd");
  EXPECT_EQ(sampler.workingDirectories({42, 43}),
            (std::map<int32_t, std::string>{{42, "/home/u/My Project"}}));
  EXPECT_TRUE(sampler.workingDirectories({}).empty());
}

TEST_F(FakeProc, SkipsEntriesThatVanishOrMakeNoSense) {
  process(10, "ok", 'S', 1, 0, 0, 0, 0, std::string("ok\0", 3));
  write("11/cmdline", "no stat: the process exited before we looked");
  process(12, "raced", 'S', 1, 0, 0, 0, 0, "");
  fs::remove(root / "12" / "cmdline");  // exited between the two reads
  write("13/stat", "13 (truncated");
  write("14/stat", "14 (x) S notanumber 1 1 0");
  fs::create_directories(root / "15");

  ProcSampler sampler(root.string());
  const auto rows = sampler.sampleProcesses();
  ASSERT_TRUE(rows);
  ASSERT_EQ(rows->size(), 1u);
  EXPECT_EQ(rows->front().pid, 10);

  fs::remove(root / "uptime");
  EXPECT_EQ(sampler.sampleProcesses(), std::nullopt);
  EXPECT_EQ(ProcSampler((root / "missing").string()).sampleProcesses(), std::nullopt);
}

TEST_F(FakeProc, ReadsACommandLineOncePerProcessUnlessItExecsOrIsYoung) {
  const long old = 0;                                 // 1000 s old
  const long young = static_cast<long>(999 * ticks);  // 1.5 s old
  process(20, "claude", 'S', 1, 0, 0, 0, old, std::string("claude\0", 7));
  process(21, "node", 'S', 1, 0, 0, 0, young, std::string("node\0/x/codex\0", 14));
  ProcSampler sampler(root.string());
  ASSERT_TRUE(sampler.sampleProcesses());
  EXPECT_EQ(sampler.commandLineReads(), 2u);

  write("20/cmdline", std::string("rewritten\0", 10));
  auto rows = sampler.sampleProcesses();
  EXPECT_EQ(sampler.commandLineReads(), 3u);  // only the young one again
  EXPECT_EQ(find(*rows, 20)->args, "claude");

  // Same pid, same start, another program (exec): read again.
  process(20, "bash", 'S', 1, 0, 0, 0, old, std::string("bash\0", 5));
  // Same pid, later start: a new process.
  write("uptime", "2000.00 0\n");
  process(21, "node", 'S', 1, 0, 0, 0, static_cast<long>(1990 * ticks), std::string("aider\0", 6));
  rows = sampler.sampleProcesses();
  EXPECT_EQ(find(*rows, 20)->args, "bash");
  EXPECT_EQ(find(*rows, 21)->args, "aider");
  EXPECT_EQ(sampler.commandLineReads(), 5u);
}

// ---- Both samplers on the live table --------------------------------------------------------

class Children {
 public:
  Children(int count, const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (int i = 0; i < count; ++i) {
      pid_t pid = 0;
      if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0) pids.push_back(pid);
    }
  }
  ~Children() {
    for (pid_t pid : pids) ::kill(pid, SIGKILL);
    for (pid_t pid : pids) ::waitpid(pid, nullptr, 0);
  }
  std::vector<pid_t> pids;
};

TEST(LiveProcessTable, ProcAndPsAgree) {
  Children sleepers(5, {"/bin/sh", "-c", "while :; do sleep 1; done", "x  y"});
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  PosixProcessLauncher launcher;
  ToolProcessSampler tools(launcher, linuxToolPaths());
  ProcSampler native, later;
  // /proc before and after ps: only processes that did not change meanwhile are compared.
  const auto fromProc = native.sampleProcesses();
  const auto fromPs = tools.sampleProcesses();
  const auto fromProcAfter = later.sampleProcesses();
  ASSERT_TRUE(fromPs);
  ASSERT_TRUE(fromProc);
  ASSERT_TRUE(fromProcAfter);

  std::map<int32_t, PSRow> procRows, afterRows;
  for (const auto& row : *fromProc) procRows[row.pid] = row;
  for (const auto& row : *fromProcAfter) afterRows[row.pid] = row;
  int compared = 0;
  for (const auto& ps : *fromPs) {
    const auto it = procRows.find(ps.pid);
    const auto after = afterRows.find(ps.pid);
    if (it == procRows.end() || after == afterRows.end()) continue;  // ps itself, or came and went
    const PSRow& proc = it->second;
    if (proc.args != after->second.args || proc.ppid != after->second.ppid || proc.tty != after->second.tty ||
        after->second.elapsed - proc.elapsed > 5)
      continue;  // changed while we looked (an exec, a new parent, a reused pid)
    ++compared;
    EXPECT_EQ(proc.ppid, ps.ppid) << ps.args;
    EXPECT_EQ(proc.tty, ps.tty) << ps.args;
    // ps prints whole seconds, truncated, between the two /proc samples.
    EXPECT_GE(after->second.cpuTime + 0.01, ps.cpuTime) << ps.args;
    EXPECT_LT(proc.cpuTime, ps.cpuTime + 1.01) << ps.args;
    EXPECT_NEAR(proc.elapsed, ps.elapsed, 2.0) << ps.args;
    // Kernel workers rename themselves as they take on work.
    const bool kernelThread = ps.ppid == 2 || ps.pid == 2;
    if (!kernelThread) {
      EXPECT_EQ(proc.args, ps.args);
    }
  }
  EXPECT_GE(compared, static_cast<int>(fromPs->size() * 8 / 10));
  for (pid_t pid : sleepers.pids) {
    ASSERT_TRUE(procRows.contains(pid));
    EXPECT_EQ(procRows[pid].args, "/bin/sh -c while :; do sleep 1; done x  y");
    EXPECT_EQ(procRows[pid].ppid, ::getpid());
  }

  // Working directories agree too.
  const std::vector<int32_t> pids{::getpid(), sleepers.pids.front()};
  const auto lsof = tools.workingDirectories(pids);
  EXPECT_EQ(native.workingDirectories(pids), lsof);
  EXPECT_EQ(lsof.at(::getpid()), fs::current_path().string());
}

TEST(X11RunningApplications, WithoutADisplayNoProcessIsAnApplication) {
  X11RunningApplications apps(":987");
  EXPECT_FALSE(apps.isRegisteredApplication(::getpid()));
  EXPECT_EQ(apps.frontmostApplicationPID(), std::nullopt);
}

}  // namespace
}  // namespace tovami::linux_backend
