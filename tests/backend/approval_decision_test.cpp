// The decision road end to end: the real hook client (the tovami entry) fed Claude Code's recorded
// payloads, the real socket, and the approval server answering from its queue.
#include <fcntl.h>
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
#include "approvals/approval_server.h"
#include "peers/hook_installer.h"
#include "linux/integrations/unix_socket_service.h"
#include "platform/thread_queue.h"
#include "support/memory_preferences.h"

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
struct ThreadDispatcher final : Dispatcher {
  TaskQueue& mainQueue() override { return mainThread; }
  std::shared_ptr<TaskQueue> makeSerialQueue(std::string label) override {
    return std::make_shared<ThreadQueue>(std::move(label));
  }
  Clock& clock() override { return systemClock; }
  ThreadQueue mainThread{"main"};
  SystemClock systemClock;
};

// `tovami --hook EVENT` (or the program `argv`) with `input` on its standard input and XDG_DATA_HOME at
// `data`, its streams in files beside `data`; finish() waits for its end and reads what it printed.
struct Client {
  pid_t pid = 0;
  int status = -1;
  Steady::time_point began = Steady::now();
  fs::path streams;
  std::string output, errors;
  double seconds = 0;

  Client(const std::string& event, const std::string& input, const fs::path& data)
      : Client(std::vector<std::string>{TOVAMI_ENTRY_BINARY, "--hook", event}, input, data) {}
  Client(const std::vector<std::string>& command, const std::string& input, const fs::path& data) {
    static int made = 0;
    streams = data.parent_path() / ("client-" + std::to_string(++made));
    std::ofstream(streams.string() + ".in", std::ios::binary) << input;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, (streams.string() + ".in").c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (streams.string() + ".out").c_str(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, (streams.string() + ".err").c_str(), O_WRONLY | O_CREAT, 0600);
    const std::string xdg = "XDG_DATA_HOME=" + data.string();
    const char* env[] = {xdg.c_str(), "HOME=/nonexistent", "PATH=/usr/bin:/bin", nullptr};
    std::vector<char*> argv;
    for (const auto& word : command) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    EXPECT_EQ(::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), const_cast<char**>(env)), 0);
    posix_spawn_file_actions_destroy(&actions);
  }
  Client& finish() {
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    seconds = std::chrono::duration<double>(Steady::now() - began).count();
    output = readFile(streams.string() + ".out");
    errors = readFile(streams.string() + ".err");
    return *this;
  }
};

class ApprovalDecisionTest : public ::testing::Test {
 protected:
  fs::path root = fs::temp_directory_path() / ("tovami-decision-" + std::to_string(::getpid()));
  fs::path data = root / "data";
  fs::path agentData = root / "agent-data";  // an agent's data folder, with no socket in it
  ThreadDispatcher dispatcher;
  testing::MemoryPreferences prefs;
  std::mutex statusMutex;
  std::optional<ClaudeSessionStatus> status;  // what the session's status file says
  std::shared_ptr<ApprovalServer> server;
  const std::string payload = readFile(kHooks / "1796542710612450042-PermissionRequest.json");

  void SetUp() override {
    fs::remove_all(root);
    fs::create_directories(agentData);
    prefs.setBool(prefs::kNotchApprovals, true);
    prefs.setBool(prefs::kCodexApprovals, true);
    const AgentSession session{.pid = 4242, .projectPath = "/home/user/srv/A_b.c d@e+f~g-h é", .sessionId = kSessionId};
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

  void setStatus(ClaudeSessionStatus::State state, std::optional<std::string> waitingFor) {
    std::lock_guard lock(statusMutex);
    status = ClaudeSessionStatus{4242, kSessionId, {}, {}, state, std::move(waitingFor), {}};
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
  const std::string second = readFile(kHooks / "1796542799078346348-PermissionRequest.json");
  const json allow = {{"behavior", "allow"}},
             deny = {{"behavior", "deny"}, {"message", ApprovalServer::kDeniedMessage}},
             denyAndStop = {{"behavior", "deny"}, {"message", ApprovalServer::kDeniedMessage},
                            {"interrupt", true}},
             always = {{"behavior", "allow"},
                       {"updatedPermissions", json::parse(second)["permission_suggestions"]}};
  const std::tuple<bool, std::string, ApprovalDecision, json, bool> cases[] = {
      // Codex, payload, answer, the decision printed (never `interrupt` for Codex), through the
      // installed command run by a shell as the agents do, in an agent whose data folder is elsewhere
      // than Tovami's (XDG_DATA_HOME set only in the user's shell start-up file)
      {false, second, ApprovalDecision::always, always, false},
      {false, payload, ApprovalDecision::deny, denyAndStop, false},
      {true, second, ApprovalDecision::always, always, false},
      {true, payload, ApprovalDecision::deny, deny, false},
      {false, payload, ApprovalDecision::allow, allow, true},
      {true, payload, ApprovalDecision::allow, allow, true},
  };
  const std::string socket = (data / "Tovami" / "agent.sock").string();
  for (const auto& [codex, input, decision, decisionPrinted, installed] : cases) {
    const std::string event = codex ? "codex-permission-request" : "permission-request";
    SCOPED_TRACE(event + (installed ? " via the installed command" : ""));
    Client client = installed ? Client({"/bin/sh", "-c", hookCommand(TOVAMI_ENTRY_BINARY, event, socket)},
                                       input, agentData)
                              : Client(event, input, data);
    auto cards = waitForCards(1);
    ASSERT_EQ(cards.size(), 1u);
    EXPECT_EQ(cards[0].agent, codex ? ApprovalAgent::codex : ApprovalAgent::claudeCode);
    onMain([&, decision = decision] { server->answer(cards[0].id, decision); });
    const auto& result = client.finish();
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.errors, "");
    const json printed = {{"hookSpecificOutput", {{"hookEventName", "PermissionRequest"}, {"decision", decisionPrinted}}}};
    EXPECT_EQ(json::parse(result.output, nullptr, false), printed) << result.output;
    EXPECT_TRUE(waitForCards(0).empty());
  }
}

TEST_F(ApprovalDecisionTest, AWithdrawnRequestEndsItsClientWithoutAVerdict) {
  setStatus(ClaudeSessionStatus::State::waiting, "permission prompt");
  // Answered in the terminal: the status file leaves "waiting"; the card and the client end.
  Client run("permission-request", payload, data);
  auto cards = waitForCards(1);
  ASSERT_EQ(cards.size(), 1u);
  std::this_thread::sleep_for(std::chrono::milliseconds(700));  // a poll sees "waiting"
  EXPECT_EQ(waitForCards(1).size(), 1u);
  const auto answeredAt = Steady::now();
  setStatus(ClaudeSessionStatus::State::busy, std::nullopt);
  const auto& result = run.finish();
  EXPECT_LT(std::chrono::duration<double>(Steady::now() - answeredAt).count(), 1.5);
  EXPECT_TRUE(result.output.empty() && result.status == 0) << result.output;
  EXPECT_TRUE(waitForCards(0).empty());
  // A late click on the withdrawn card reaches nobody. (A client that leaves takes its card: the server's
  // unit test and test_approvals.)
  onMain([&] { server->answer(cards[0].id, ApprovalDecision::allow); });
}

// Without an answer the client prints nothing: nobody listens (an entry of an earlier version, without
// --socket, looks where its environment says: no socket there); malformed input to a live server; a notice,
// which never waits; a relative socket path would depend on the agent's working folder: refused, and said.
TEST_F(ApprovalDecisionTest, WithoutAnAnswerTheClientPrintsNothingAndEndsAtOnce) {
  auto noSocket = Client("permission-request", payload, agentData).finish();
  auto malformed = Client("permission-request", "{\"tool_name\": ", data).finish();
  const std::vector<std::string> relativeCommand{TOVAMI_ENTRY_BINARY, "--hook", "permission-request",
                                                 "--socket", "Tovami/agent.sock"};
  auto relative = Client(relativeCommand, payload, data).finish();
  EXPECT_TRUE(waitForCards(0).empty());
  auto notice =
      Client("notification", readFile(kHooks / "1796542716657264940-Notification.json"), data).finish();
  for (const auto* result : {&noSocket, &malformed, &notice, &relative})
    EXPECT_TRUE(result->output.empty() && result->status == 0) << result->output;
  for (const auto* result : {&noSocket, &malformed, &notice})
    EXPECT_LT(result->seconds, 0.5);  // the figure itself is the benchmark's
  EXPECT_EQ(noSocket.errors, "");
  EXPECT_EQ(relative.errors,
            "tovami: no verdict given: the approval socket path \"Tovami/agent.sock\" is not absolute\n");
}

}  // namespace
}  // namespace tovami::linux_backend
