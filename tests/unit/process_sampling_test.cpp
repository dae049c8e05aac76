#include "agents/process_sampling.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>

#include "agents/agent_watcher.h"
#include "platform/log.h"

namespace tovami {
namespace {

class LogCapture final : public LogSink {
 public:
  LogCapture() {
    setLogSink(std::shared_ptr<LogSink>(this, [](LogSink*) {}));
  }
  ~LogCapture() override { setLogSink(nullptr); }
  void write(LogLevel level, std::string_view category, std::string_view message) override {
    std::lock_guard lock(mutex);
    lines.push_back(std::string(category) + (level == LogLevel::error ? " error: " : " info: ") +
                    std::string(message));
  }
  std::mutex mutex;
  std::vector<std::string> lines;
};

class FakeLauncher final : public ProcessLauncher {
 public:
  struct Call {
    std::string path;
    std::vector<std::string> arguments;
    double timeout;
  };
  ToolRun run(const std::string& path, const std::vector<std::string>& arguments, double timeout) override {
    calls.push_back({path, arguments, timeout});
    return next;
  }
  ToolRun next{ToolRun::Outcome::finished, "", ""};
  std::vector<Call> calls;
};

TEST(RunTool, ReturnsFinishedUtf8OutputAndLogsFailures) {
  LogCapture log;
  FakeLauncher launcher;
  launcher.next = {ToolRun::Outcome::finished, "caf\xc3\xa9 \xe2\x9c\x93 \xf0\x9f\x98\xba\n", ""};
  EXPECT_EQ(runTool(launcher, "/bin/ps", {"-a"}, 5.0), "caf\xc3\xa9 \xe2\x9c\x93 \xf0\x9f\x98\xba\n");

  // Not UTF-8: overlong, surrogate, past U+10FFFF, cut short, a lone continuation byte, binary.
  for (const char* bad :
       {"\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe2\x9c", "\x80", "\x89PNG\r\n\xff"}) {
    launcher.next = {ToolRun::Outcome::finished, bad, ""};
    EXPECT_EQ(runTool(launcher, "/bin/ps", {}, 5.0), std::nullopt) << bad;
  }
  EXPECT_TRUE(log.lines.empty());  // invalid text is not logged

  launcher.next = {ToolRun::Outcome::failedToLaunch, "", "No such file or directory"};
  EXPECT_EQ(runTool(launcher, "/usr/bin/ps", {}, 5.0), std::nullopt);
  launcher.next = {ToolRun::Outcome::timedOut, "partial", ""};
  EXPECT_EQ(runTool(launcher, "/usr/bin/lsof", {}, 5.0), std::nullopt);
  EXPECT_EQ(log.lines, (std::vector<std::string>{
                           "agentwatch error: /usr/bin/ps failed to launch: No such file or directory",
                           "agentwatch error: /usr/bin/lsof exceeded 5.000000s; terminating"}));
}

TEST(ToolProcessSampler, RunsPsAndLsofWithTheirArguments) {
  FakeLauncher launcher;
  ToolProcessSampler sampler(launcher, ToolPaths{"/usr/bin/ps", "/usr/bin/lsof"});
  launcher.next = {ToolRun::Outcome::finished, "  7  1 pts/0 00:00:01 01:00 claude\nnot a row\n", ""};
  const auto rows = sampler.sampleProcesses();
  ASSERT_EQ(rows.value().size(), 1u);
  EXPECT_EQ(rows->front().args, "claude");
  EXPECT_EQ(launcher.calls.at(0).path, "/usr/bin/ps");
  EXPECT_EQ(launcher.calls[0].arguments,
            (std::vector<std::string>{"-axww", "-o", "pid=,ppid=,tty=,cputime=,etime=,args="}));
  // Output without a usable row is an empty table, not a failed scan.
  launcher.next = {ToolRun::Outcome::finished, "garbage\nmore garbage\n", ""};
  EXPECT_EQ(sampler.sampleProcesses(), std::vector<PSRow>{});

  launcher.next = {ToolRun::Outcome::finished, "p7\nfcwd\nn/home/u/api\n", ""};
  EXPECT_EQ(sampler.workingDirectories({7, 8}), (std::map<int32_t, std::string>{{7, "/home/u/api"}}));
  EXPECT_TRUE(sampler.workingDirectories({}).empty());
  EXPECT_EQ(launcher.calls.size(), 3u);  // nothing to ask, nothing run
  launcher.next = {ToolRun::Outcome::failedToLaunch, "", "Permission denied"};
  EXPECT_TRUE(sampler.workingDirectories({1}).empty());
}

// The process table as one scan sees it, with working folders.
class TableSampler final : public ProcessSampler {
 public:
  std::optional<std::vector<PSRow>> sampleProcesses() override { return rows; }
  std::map<int32_t, std::string> workingDirectories(const std::vector<int32_t>&) override { return folders; }
  std::vector<PSRow> rows;
  std::map<int32_t, std::string> folders;
};

TEST(AgentScanner, ARemovedWorkingFolderLosesTheMarkerAndHasNoTranscript) {
  const auto kept = std::filesystem::temp_directory_path() / "tovami-kept (deleted)";
  std::filesystem::create_directories(kept);
  TableSampler sampler;
  for (int32_t pid : {10, 11}) sampler.rows.push_back(PSRow{pid, 1, "pts/1", 0, 60, "claude"});
  sampler.folders = {{10, "/gone/api (deleted)"}, {11, kept.string()}};
  NoRunningApplications apps;
  std::vector<std::string> lookedUp;
  AgentScanner scanner(sampler, apps, [&](const std::string& path) {
    lookedUp.push_back(path);
    return std::optional<ClaudeSessionInfo>(ClaudeSessionInfo{});
  });
  const auto result = scanner.scan(1000);
  ASSERT_EQ(result.value().entries.size(), 2u);
  const AgentSession& gone = result->entries[0].pid == 10 ? result->entries[0] : result->entries[1];
  EXPECT_EQ(gone.projectName, "api");
  EXPECT_EQ(gone.projectPath, "/gone/api");
  EXPECT_EQ(gone.context, std::nullopt);
  EXPECT_EQ(lookedUp, std::vector<std::string>{kept.string()});  // a folder that is named so stays
  std::filesystem::remove(kept);
}

}  // namespace
}  // namespace tovami
