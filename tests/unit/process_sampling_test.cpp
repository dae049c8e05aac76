#include "agents/process_sampling.h"

#include <gtest/gtest.h>

#include <mutex>

#include "platform/log.h"

namespace tovami {
namespace {

class CapturingSink final : public LogSink {
 public:
  void write(LogLevel level, std::string_view category, std::string_view message) override {
    std::lock_guard lock(mutex);
    lines.push_back(std::string(category) + (level == LogLevel::error ? " error: " : " info: ") +
                    std::string(message));
  }
  std::mutex mutex;
  std::vector<std::string> lines;
};

class LogCapture {
 public:
  LogCapture() : sink(std::make_shared<CapturingSink>()) { setLogSink(sink); }
  ~LogCapture() { setLogSink(nullptr); }
  std::shared_ptr<CapturingSink> sink;
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
  launcher.next = {ToolRun::Outcome::finished, "caf\xc3\xa9 \xe2\x9c\x93\n", ""};
  EXPECT_EQ(runTool(launcher, "/bin/ps", {"-a"}, 5.0), "caf\xc3\xa9 \xe2\x9c\x93\n");

  launcher.next = {ToolRun::Outcome::finished, "ok \xff\xfe", ""};
  EXPECT_EQ(runTool(launcher, "/bin/ps", {}, 5.0), std::nullopt);
  EXPECT_TRUE(log.sink->lines.empty());  // invalid text is not logged

  launcher.next = {ToolRun::Outcome::failedToLaunch, "", "No such file or directory"};
  EXPECT_EQ(runTool(launcher, "/usr/bin/ps", {}, 5.0), std::nullopt);
  launcher.next = {ToolRun::Outcome::timedOut, "partial", ""};
  EXPECT_EQ(runTool(launcher, "/usr/bin/lsof", {}, 5.0), std::nullopt);
  EXPECT_EQ(log.sink->lines, (std::vector<std::string>{
                                 "agentwatch error: /usr/bin/ps failed to launch: No such file or directory",
                                 "agentwatch error: /usr/bin/lsof exceeded 5.000000s; terminating"}));
}

TEST(IsValidUtf8, RejectsMalformedSequences) {
  EXPECT_TRUE(isValidUtf8(""));
  EXPECT_TRUE(isValidUtf8("plain \xf0\x9f\x98\xba"));
  EXPECT_FALSE(isValidUtf8("\xc0\xaf"));          // overlong
  EXPECT_FALSE(isValidUtf8("\xed\xa0\x80"));      // surrogate
  EXPECT_FALSE(isValidUtf8("\xf4\x90\x80\x80"));  // past U+10FFFF
  EXPECT_FALSE(isValidUtf8("\xe2\x9c"));          // cut short
  EXPECT_FALSE(isValidUtf8("\x80"));
}

TEST(ToolProcessSampler, RunsPsAndLsofWithTheirArguments) {
  FakeLauncher launcher;
  ToolProcessSampler sampler(launcher, ToolPaths{"/usr/bin/ps", "/usr/bin/lsof"});
  launcher.next = {ToolRun::Outcome::finished, "  7  1 pts/0 00:00:01 01:00 claude\nnot a row\n", ""};
  const auto rows = sampler.sampleProcesses();
  ASSERT_TRUE(rows);
  ASSERT_EQ(rows->size(), 1u);
  EXPECT_EQ(rows->front().args, "claude");
  ASSERT_EQ(launcher.calls.size(), 1u);
  EXPECT_EQ(launcher.calls[0].path, "/usr/bin/ps");
  EXPECT_EQ(launcher.calls[0].arguments,
            (std::vector<std::string>{"-axww", "-o", "pid=,ppid=,tty=,cputime=,etime=,args="}));
  EXPECT_DOUBLE_EQ(launcher.calls[0].timeout, 5.0);

  launcher.next = {ToolRun::Outcome::finished, "p7\nfcwd\nn/home/u/api\n", ""};
  EXPECT_EQ(sampler.workingDirectories({7, 8}), (std::map<int32_t, std::string>{{7, "/home/u/api"}}));
  EXPECT_EQ(launcher.calls[1].arguments,
            (std::vector<std::string>{"-n", "-P", "-a", "-p", "7,8", "-d", "cwd", "-Fn"}));

  EXPECT_TRUE(sampler.workingDirectories({}).empty());
  EXPECT_EQ(launcher.calls.size(), 2u);  // nothing to ask, nothing run
}

TEST(ToolProcessSampler, FailedOrGarbledPsIsNothingButAnEmptyTableIsAList) {
  LogCapture log;
  FakeLauncher launcher;
  ToolProcessSampler sampler(launcher, kMacToolPaths);
  launcher.next = {ToolRun::Outcome::timedOut, "", ""};
  EXPECT_EQ(sampler.sampleProcesses(), std::nullopt);
  launcher.next = {ToolRun::Outcome::finished, "\x89PNG\r\n\x1a\n\xff", ""};
  EXPECT_EQ(sampler.sampleProcesses(), std::nullopt);
  launcher.next = {ToolRun::Outcome::finished, "garbage\nmore garbage\n", ""};
  EXPECT_EQ(sampler.sampleProcesses(), std::vector<PSRow>{});
  launcher.next = {ToolRun::Outcome::failedToLaunch, "", "Permission denied"};
  EXPECT_TRUE(sampler.workingDirectories({1}).empty());
  EXPECT_EQ(launcher.calls.back().path, "/usr/sbin/lsof");
}

}  // namespace
}  // namespace tovami
