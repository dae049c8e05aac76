#include "integrations/approval_server.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/preference_keys.h"
#include "support/fake_running_applications.h"
#include "support/memory_preferences.h"
#include "support/virtual_dispatcher.h"

namespace tovami {
namespace {

using namespace tovami::testing;
using nlohmann::json;

json notice(std::string message, std::optional<std::string> cwd = "/home/u/api") {
  json event = {{"hook_event_name", "Notification"}, {"message", std::move(message)}, {"session_id", "s"}};
  if (cwd) event["cwd"] = *cwd;
  return event;
}

TEST(ApprovalRequestTest, OnlyPermissionNoticesBecomeRequests) {
  std::string accented = "permission ";
  for (int i = 0; i < 200; ++i) accented += "e\u0301";  // two code points, one character each
  const json bash = {{"hook_event_name", "Notification"}, {"message", "permission"}, {"title", "Bash"}};
  auto with = [&bash](const json& changes) {
    json event = bash;
    event.update(changes);
    return event;
  };
  const std::pair<json, std::string> cases[] = {
      // event, "tool | project | detail" or "" for none
      {notice("Claude needs your permission"), "Claude Code | api | Claude needs your permission"},
      {notice("Claude is waiting for your input"), ""},
      {notice("permission", std::nullopt), "Claude Code | Claude | permission"},
      {notice("permission", "/srv/my app/"), "Claude Code | my app | permission"},
      {bash, "Bash | Claude | permission"},
      {with({{"title", 7}, {"cwd", 3}}), "Claude Code | Claude | permission"},
      {with({{"hook_event_name", "PreToolUse"}}), ""},
      {with({{"message", 5}}), ""},
      {json::array({notice("permission")}), ""},
      {notice(accented), "Claude Code | api | " + accented.substr(0, 11 + 149 * 3)}};  // 149 "é" of 3 bytes
  for (const auto& [event, expected] : cases) {
    auto r = approvalRequestFrom(event, "id", 5);
    EXPECT_EQ(r ? r->toolName + " | " + r->projectName + " | " + r->detail : "", expected) << event.dump();
  }
  EXPECT_EQ(firstCharacters(std::string("ab\xff") + "cd", 3), "ab\xff");
}

// Hands the server's conversations to the test instead of a socket.
struct FakeSockets : LocalSocketService {
  struct Listener : LocalListener {
    int* open;
    explicit Listener(int* o) : open(o) { ++*open; }
    ~Listener() override { --*open; }
  };
  int listens = 0, open = 0;
  ConversationFactory factory;
  ListenOutcome listen(const std::string&, const LocalListenerOptions&, ConversationFactory f) override {
    factory = (++listens, std::move(f));
    return {std::make_unique<Listener>(&open), "", false};
  }
};

struct Recorder : ApprovalIslandLink, TerminalJump, PaneAnswer, KeySynthesizer, FakeRunningApplications {
  std::vector<std::string> calls;
  bool inPane = false;
  void openForApproval() override { calls.push_back("open"); }
  void scheduleCollapseCheck() override { calls.push_back("collapse"); }
  void jump(const AgentSession& s) override { calls.push_back("jump " + std::to_string(s.pid)); }
  static std::string key(AnswerKey k) { return k == AnswerKey::returnKey ? " return" : " escape"; }
  PaneAnswer::Outcome sendKey(const AgentSession& s, AnswerKey k) override {
    calls.push_back((inPane ? "pane " : "no pane ") + std::to_string(s.pid) + key(k));
    return inPane ? PaneAnswer::Outcome::sent : PaneAnswer::Outcome::notInPane;
  }
  bool postKey(AnswerKey k) override { return calls.push_back("type" + key(k)), true; }
};

class ApprovalServerTest : public ::testing::Test {
 protected:
  VirtualDispatcher dispatcher;
  MemoryPreferences prefs;
  std::shared_ptr<FakeSockets> sockets = std::make_shared<FakeSockets>();
  std::shared_ptr<Recorder> rec = std::make_shared<Recorder>();
  std::vector<AgentSession> sessions{
      {.pid = 41, .projectPath = "/home/u/api", .terminalName = "xterm", .terminalPID = 900},
      {.pid = 42, .projectPath = "/home/u/web", .terminalName = "Warp", .terminalPID = 900}};
  bool napping = false;
  std::vector<SoundCue> cues;
  std::shared_ptr<ApprovalServer> server;

  void SetUp() override {
    prefs.setBool(prefs::kNotchApprovals, true);
    server = std::make_shared<ApprovalServer>(
        ApprovalServerDependencies{dispatcher, prefs, sockets, "/run/agent.sock", [this] { return sessions; },
                                   [this] { return napping; }, rec, rec,
                                   [this](SoundCue cue) { cues.push_back(cue); }, rec, rec, rec, nullptr});
    server->start();
  }
  void deliver(const json& event) {
    sockets->factory()->received(event.dump());
    dispatcher.runUntilIdle();
  }
  const std::optional<ApprovalRequest>& pending() { return server->state().pending(); }
};

TEST_F(ApprovalServerTest, PresentsReplacesAndExpires) {
  deliver(notice("permission one"));
  EXPECT_EQ(pending().value_or(ApprovalRequest{}).detail, "permission one");
  EXPECT_EQ(rec->calls, (std::vector<std::string>{"open"}));
  EXPECT_EQ(cues, (std::vector<SoundCue>{SoundCue::approvalAsked}));
  dispatcher.advance(50);
  deliver(notice("permission two"));
  dispatcher.advance(74);  // the first one's 75 s are long over; the second has 1 s left
  EXPECT_EQ(pending().value_or(ApprovalRequest{}).detail, "permission two");
  dispatcher.advance(1);
  EXPECT_TRUE(!pending() && rec->calls.back() == "collapse");
}

TEST_F(ApprovalServerTest, DropsNoticesDuringANapInFrontOrFromBeforeAStopAndStartsOnlyWhenOn) {
  napping = true;
  deliver(notice("permission"));
  EXPECT_FALSE(pending());
  napping = false;
  rec->frontmost = 900;
  deliver(notice("permission"));
  EXPECT_FALSE(pending());
  deliver(notice("permission", "/elsewhere"));  // no session: the front window says nothing
  EXPECT_TRUE(pending());
  EXPECT_EQ(cues.size(), 1u);
  // A notice read just before a stop is never shown after it.
  rec->frontmost.reset();
  server->stop();
  server->start();
  auto conversation = sockets->factory();
  conversation->received(notice("permission").dump());
  server->stop();
  server->start();
  dispatcher.runUntilIdle();
  EXPECT_FALSE(pending());
  // Starts once, and only when switched on.
  const int listens = sockets->listens;
  server->start();
  server->stop();
  EXPECT_EQ(sockets->open, 0);
  prefs.setBool(prefs::kNotchApprovals, false);
  server->start();
  EXPECT_TRUE(sockets->listens == listens && !server->isListening());
}

TEST_F(ApprovalServerTest, AnswersGoToThePaneOrAreTypedOnlyIntoTheFrontTerminal) {
  struct Case {
    std::optional<std::string> cwd;  // none: only dismissed
    bool allow, inPane;
    std::optional<int32_t> frontAfterJump;
    Seconds wait;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {"/home/u/api", false, false, 900, 0.7, {"collapse", "no pane 41 escape", "jump 41", "type escape"}},
      {"/home/u/web", true, false, 900, 2.2, {"collapse", "no pane 42 return", "jump 42", "type return"}},
      {"/home/u/api", true, false, 77, 0.7, {"collapse", "no pane 41 return", "jump 41"}},  // other in front
      {"/nowhere", true, false, 900, 3, {"collapse"}},
      {std::nullopt, true, false, 900, 3, {"collapse"}}};
  for (const auto& c : cases) {
    deliver(notice("permission", c.cwd));
    rec->calls.clear();
    rec->inPane = c.inPane;
    rec->frontmost = c.frontAfterJump;
    server->answer(c.allow);
    dispatcher.runUntilIdle();
    EXPECT_FALSE(pending());
    if (c.wait > 0) {
      dispatcher.advance(c.wait - 0.05);
      EXPECT_EQ(rec->calls.size(), std::min<size_t>(c.calls.size(), 3)) << c.cwd.value_or("-");
      dispatcher.advance(0.1);
    }
    EXPECT_EQ(rec->calls, c.calls) << c.cwd.value_or("-");
    rec->frontmost.reset();
  }
}

}  // namespace
}  // namespace tovami
