// The decision road end to end: the real hook client (the tovami entry) fed Claude Code's recorded
// payloads, the real socket, and the approval server answering from its queue.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "app/preference_keys.h"
#include "integrations/approval_server.h"
#include "linux/integrations/unix_socket_service.h"
#include "platform/thread_queue.h"
#include "support/memory_preferences.h"

extern char** environ;

namespace tovami::linux_backend {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Steady = std::chrono::steady_clock;

const fs::path kHooks = fs::path(TOVAMI_TEST_FIXTURES) / "claude-code" / "hooks";
const std::string kSessionId = "6cacb2e6-9983-4fc3-b7a7-3f2ce977802e";

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Real threads in place of the desktop's event loop: the "main queue" is one serial thread.
class ThreadDispatcher final : public Dispatcher {
 public:
  TaskQueue& mainQueue() override { return main_; }
  std::shared_ptr<TaskQueue> makeSerialQueue(std::string label) override {
    return std::make_shared<ThreadQueue>(std::move(label));
  }
  Clock& clock() override { return clock_; }

 private:
  ThreadQueue main_{"main"};
  SystemClock clock_;
};

struct ClientRun {
  pid_t pid = 0;
  int out = -1;
  Steady::time_point began;
};

// Starts `tovami --hook EVENT` with `input` on its standard input and XDG_DATA_HOME at `data`.
ClientRun startClient(const std::string& event, const std::string& input, const fs::path& data) {
  ::signal(SIGPIPE, SIG_IGN);  // a client with nobody to ask ends before reading its input
  int in[2], out[2];
  EXPECT_EQ(::pipe(in), 0);
  EXPECT_EQ(::pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, in[1]);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const std::string xdg = "XDG_DATA_HOME=" + data.string();
  std::vector<char*> env{const_cast<char*>(xdg.c_str()), const_cast<char*>("HOME=/nonexistent"), nullptr};
  const char* argv[] = {TOVAMI_ENTRY_BINARY, "--hook", event.c_str(), nullptr};
  ClientRun run{0, out[0], Steady::now()};
  EXPECT_EQ(::posix_spawn(&run.pid, argv[0], &actions, nullptr, const_cast<char**>(argv), env.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  (void)!::write(in[1], input.data(), input.size());
  ::close(in[1]);
  return run;
}

struct ClientResult {
  std::string output;
  int status = -1;
  double seconds = 0;
};

ClientResult finishClient(ClientRun run) {
  ClientResult result;
  char buffer[4096];
  for (ssize_t got; (got = ::read(run.out, buffer, sizeof buffer)) > 0;) result.output.append(buffer, size_t(got));
  ::close(run.out);
  int status = 0;
  ::waitpid(run.pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.seconds = std::chrono::duration<double>(Steady::now() - run.began).count();
  return result;
}

class ApprovalDecisionTest : public ::testing::Test {
 protected:
  fs::path root = fs::temp_directory_path() / ("tovami-decision-" + std::to_string(::getpid()));
  fs::path data = root / "data";
  ThreadDispatcher dispatcher;
  testing::MemoryPreferences prefs;
  std::mutex statusMutex;
  std::optional<ClaudeSessionStatus> status;  // what the session's status file says
  std::shared_ptr<ApprovalServer> server;

  void SetUp() override {
    fs::remove_all(root);
    prefs.setBool(prefs::kNotchApprovals, true);
    AgentSession session;
    session.pid = 4242;
    session.sessionId = kSessionId;
    session.projectPath = "/home/user/srv/A_b.c d@e+f~g-h é";
    server = std::make_shared<ApprovalServer>(ApprovalServerDependencies{
        dispatcher, prefs, std::make_shared<UnixSocketService>(), (data / "Tovami" / "agent.sock").string(),
        [session] { return std::vector<AgentSession>{session}; }, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr,
        [this](int32_t) {
          std::lock_guard lock(statusMutex);
          return status;
        },
        nullptr});
    onMain([this] { server->start(); });
  }
  void TearDown() override {
    onMain([this] { server->shutDown(); });
    server.reset();
    fs::remove_all(root);
  }

  template <typename Fn>
  std::invoke_result_t<Fn> onMain(Fn fn) {
    std::packaged_task<std::invoke_result_t<Fn>()> task(std::move(fn));
    auto result = task.get_future();
    dispatcher.mainQueue().async([&task] { task(); });
    return result.get();
  }

  // The requests waiting, once `count` of them are there (or after five seconds).
  std::vector<ApprovalRequest> waitForCards(size_t count) {
    const auto until = Steady::now() + std::chrono::seconds(5);
    while (true) {
      auto requests = onMain([this] { return server->state().requests(); });
      if (requests.size() == count || Steady::now() > until) return requests;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
};

TEST_F(ApprovalDecisionTest, TheWaitingClientPrintsTheDecisionOfItsOwnCard) {
  const std::string first = readFile(kHooks / "1796542710612450042-PermissionRequest.json");
  const std::string second = readFile(kHooks / "1796542799078346348-PermissionRequest.json");
  const json secondSuggestions = json::parse(second)["permission_suggestions"];
  struct Case {
    std::string event, input;
    ApprovalDecision decision;
    json expected;  // the printed decision
  };
  const Case cases[] = {
      {"permission-request", first, ApprovalDecision::allow, {{"behavior", "allow"}}},
      {"permission-request", second, ApprovalDecision::always,
       {{"behavior", "allow"}, {"updatedPermissions", secondSuggestions}}},
      {"permission-request", first, ApprovalDecision::deny,
       {{"behavior", "deny"}, {"message", ApprovalServer::kDeniedMessage}, {"interrupt", true}}},
      // Codex takes behavior and message only.
      {"codex-permission-request", second, ApprovalDecision::always, {{"behavior", "allow"}}},
      {"codex-permission-request", first, ApprovalDecision::deny,
       {{"behavior", "deny"}, {"message", ApprovalServer::kDeniedMessage}}},
  };
  for (const auto& c : cases) {
    auto run = startClient(c.event, c.input, data);
    auto cards = waitForCards(1);
    ASSERT_EQ(cards.size(), 1u) << c.event;
    EXPECT_EQ(cards[0].agent, c.event == "codex-permission-request" ? ApprovalAgent::codex : ApprovalAgent::claudeCode);
    onMain([&] { server->answer(cards[0].id, c.decision); });
    const auto result = finishClient(run);
    EXPECT_EQ(result.status, 0);
    const json expected = {{"hookSpecificOutput", {{"hookEventName", "PermissionRequest"}, {"decision", c.expected}}}};
    EXPECT_EQ(json::parse(result.output, nullptr, false), expected) << result.output;
    EXPECT_TRUE(waitForCards(0).empty());
  }
}

TEST_F(ApprovalDecisionTest, AWithdrawnRequestEndsItsClientWithoutAVerdict) {
  const std::string payload = readFile(kHooks / "1796542710612450042-PermissionRequest.json");
  ClaudeSessionStatus waiting{4242, kSessionId, {}, {}, ClaudeSessionStatus::State::waiting, "permission prompt", {}};
  {
    std::lock_guard lock(statusMutex);
    status = waiting;
  }
  // Answered in the terminal: the status file leaves "waiting"; the card and the client end.
  auto run = startClient("permission-request", payload, data);
  auto cards = waitForCards(1);
  ASSERT_EQ(cards.size(), 1u);
  std::this_thread::sleep_for(std::chrono::milliseconds(700));  // a poll sees "waiting"
  EXPECT_EQ(waitForCards(1).size(), 1u);
  const auto answeredAt = Steady::now();
  {
    std::lock_guard lock(statusMutex);
    status->state = ClaudeSessionStatus::State::busy;
    status->waitingFor.reset();
  }
  auto result = finishClient(run);
  EXPECT_LT(std::chrono::duration<double>(Steady::now() - answeredAt).count(), 1.5);
  EXPECT_TRUE(result.output.empty() && result.status == 0) << result.output;
  EXPECT_TRUE(waitForCards(0).empty());
  // A late click on the withdrawn card reaches nobody.
  onMain([&] { server->answer(cards[0].id, ApprovalDecision::allow); });

  // The client ended (the agent answered without it): its card goes.
  run = startClient("permission-request", payload, data);
  cards = waitForCards(1);
  ASSERT_EQ(cards.size(), 1u);
  ::kill(run.pid, SIGKILL);
  finishClient(run);
  EXPECT_TRUE(waitForCards(0).empty());
}

TEST_F(ApprovalDecisionTest, WithoutAnAnswerTheClientPrintsNothingAndEndsAtOnce) {
  const std::string payload = readFile(kHooks / "1796542710612450042-PermissionRequest.json");
  onMain([this] { server->stop(); });
  // Nobody listens; malformed input to a live server; a notice, which never waits.
  auto noSocket = finishClient(startClient("permission-request", payload, root / "nowhere"));
  onMain([this] { server->start(); });
  auto malformed = finishClient(startClient("permission-request", "{\"tool_name\": ", data));
  auto notice = finishClient(startClient("notification", readFile(kHooks / "1796542716657264940-Notification.json"), data));
  for (const auto* result : {&noSocket, &malformed, &notice}) {
    EXPECT_TRUE(result->output.empty() && result->status == 0) << result->output;
    EXPECT_LT(result->seconds, 0.5);  // the figure itself is the benchmark's
  }
}

}  // namespace
}  // namespace tovami::linux_backend
