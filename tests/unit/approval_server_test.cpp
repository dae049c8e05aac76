#include "approvals/approval_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>

#include "agents/process_sampling.h"
#include "app/preference_keys.h"
#include "approvals/hook_client.h"
#include "peers/json_bounds.h"
#include "support/memory_preferences.h"
#include "support/virtual_dispatcher.h"

namespace tovami {
namespace {

using namespace tovami::testing;
using nlohmann::json;

json fixture(const char* name) {
  std::ifstream in(std::string(TOVAMI_TEST_FIXTURES) + "/claude-code/hooks/" + name);
  return json::parse(in);
}
const json kAsked = fixture("1796542710612450042-PermissionRequest.json");  // Bash "ls -la /tmp"
const json kNotice = fixture("1796542716657264940-Notification.json");       // the same prompt, 6 s later
const std::string kSession = kAsked["session_id"];

json notice(std::optional<std::string> session, std::optional<std::string> cwd = "/home/u/api") {
  json event = {{"hook_event_name", "Notification"}, {"message", "Claude needs your permission"}};
  if (session) event["session_id"] = *session;
  if (cwd) event["cwd"] = *cwd;
  return event;
}

json asked(const std::string& session, const std::string& command = "make") {
  json event = kAsked;
  event["session_id"] = session;
  event["tool_input"]["command"] = command;
  return event;
}

json envelope(const json& payload, const char* event = "permission-request") {
  return {{"protocol", 1}, {"event", event}, {"payload", payload}};
}

TEST(ApprovalRequestTest, RequestsSayWhatIsAskedInSafeText) {
  auto with = [](json event, const json& changes) { return event.update(changes), event; };
  const std::string longCommand = "echo " + std::string(300, 'x');
  const std::pair<json, std::string> cases[] = {
      // event, "road | tool | detail | project | always" or "" for none
      {kAsked, "decision | Bash | ls -la /tmp | A_b.c d@e+f~g-h é | always"},
      {kNotice, "keystroke | Claude Code | Claude needs your permission | A_b.c d@e+f~g-h é | -"},
      {with(kAsked, {{"tool_name", "WebFetch"}, {"tool_input", {{"url", "https://x.org"}}}, {"cwd", "/srv/p/"}}),
       "decision | WebFetch | https://x.org | p | always"},
      {with(kAsked, {{"tool_name", "mcp__db__query"}, {"tool_input", {{"sql", "drop"}}}, {"permission_suggestions", json::array()}}),
       "decision | mcp__db__query | mcp__db__query | A_b.c d@e+f~g-h é | -"},
      // Hidden text: line breaks, escapes and bidirectional overrides become spaces; a cut shows.
      {with(kAsked, {{"tool_input", {{"command", "ls\n\x1b[2Jrm -rf ~ \u202Etxt.exe"}}}}),
       "decision | Bash | ls [2Jrm -rf ~ txt.exe | A_b.c d@e+f~g-h é | always"},
      {with(kAsked, {{"tool_input", {{"command", longCommand}}}}),
       "decision | Bash | " + longCommand.substr(0, 159) + "\u2026 | A_b.c d@e+f~g-h é | always"},
      {with(kAsked, {{"tool_name", 7}}), ""},
      {with(kNotice, {{"message", "Claude is waiting for your input"}}), ""},
      {with(kAsked, {{"hook_event_name", "PreToolUse"}}), ""},
      {json::array({kAsked}), ""}};
  for (const auto& [event, expected] : cases) {
    auto r = approvalRequestFrom(event, "id", 5);
    EXPECT_EQ(r ? std::string(r->road == ApprovalRoad::decision ? "decision" : "keystroke") + " | " + r->toolName + " | " +
                      r->detail + " | " + r->projectName + " | " + (r->canAlwaysAllow ? "always" : "-") : "",
              expected) << event.dump();
  }
  // Characters of many bytes each (a letter with six accents) still end in whole characters.
  std::string heavy;
  for (int i = 0; i < 200; ++i) heavy += "e\u0301\u0301\u0301\u0301\u0301\u0301";
  const std::string cut = approvalDisplayText(heavy, 160);
  EXPECT_TRUE(isValidUtf8(cut) && cut.ends_with("\u2026") && cut.size() < heavy.size()) << cut.size();
}

TEST(HookClientTest, TheEnvelopeCarriesWhatTheCardNeedsAndTheOutputFitsEachAgent) {
  json big = kAsked;
  big["tool_name"] = "Write";
  big["tool_input"] = {{"file_path", "/a"}, {"content", std::string(1 << 20, 'z')}};
  big["permission_suggestions"] = json::array({std::string(20000, 's')});
  const auto sent = json::parse(*hookEnvelope(HookEvent::permissionRequest, big.dump()));
  EXPECT_EQ(sent["payload"]["tool_input"], json({{"file_path", "/a"}}));  // no file content
  EXPECT_FALSE(sent["payload"].contains("permission_suggestions"));      // whole or not at all
  for (const char* bad : {"", "[1]", "{\"a\":", "nul"}) EXPECT_FALSE(hookEnvelope(HookEvent::notification, bad)) << bad;
  EXPECT_TRUE(readEnvelope(kNotice));  // a bare notice, as nc sends it
  EXPECT_FALSE(readEnvelope(json{{"protocol", 2}, {"event", "notification"}, {"payload", kNotice}}));
  EXPECT_FALSE(readEnvelope(json{{"protocol", 1}, {"event", "other"}, {"payload", kNotice}}));

  // The agents' shapes per decision are the backend test's (the real client); here what gives none.
  for (const char* reply : {"", R"({"behavior":"ask"})", "{\"behavior\":", R"({"behavior":["allow"]})"})
    EXPECT_EQ(hookOutput(HookEvent::permissionRequest, reply), "") << reply;
  EXPECT_EQ(hookOutput(HookEvent::notification, R"({"behavior":"allow"})"), "");

  // The silence bound's test knob shortens it only: anything but a positive number is the bound.
  const auto silence = [](std::optional<std::string> v) { return hookSilenceBound([&](std::string_view) { return v; }); };
  EXPECT_EQ(silence("0.5"), 0.5);
  EXPECT_EQ(silence(std::nullopt), kReplySilenceBound);
  for (const char* value : {"0", "-3", "5s", "nan", "9000"}) EXPECT_EQ(silence(value), kReplySilenceBound) << value;
}

// Nesting that would cost the stack (dumping and copying recurse per level) is refused before the parse:
// in the client's input and in the server's reply (on the listener's thread: the socket test's).
TEST(HookClientTest, DeepNestingIsRefusedBeforeAnythingRecursesOnIt) {
  const auto nested = [](std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  const std::string head = kAsked.dump();
  const std::string deepInput = head.substr(0, head.size() - 1) + R"(,"permission_suggestions":)" + nested(50000) + "}";
  EXPECT_FALSE(hookEnvelope(HookEvent::permissionRequest, deepInput));  // no verdict: the agent asks itself
  // The input's bound is json_bounds' own, to the level: 64 in all (the outer object counts) pass.
  for (const std::size_t inner : {63u, 64u}) {
    const std::string input = R"({"session_id":"s","tool_input":{"x":)" + nested(inner - 1) + "}}";
    EXPECT_EQ(hookEnvelope(HookEvent::permissionRequest, input).has_value(), inner == 63) << inner;
  }
  const std::string deepReply = R"({"protocol":1,"behavior":"allow","updatedPermissions":)" + nested(100000) + "}";
  EXPECT_EQ(hookOutput(HookEvent::permissionRequest, deepReply), "");

  // The bound counts brackets outside strings only, and a stray closer buys no room.
  const std::tuple<std::string, bool> texts[] = {{nested(64), true}, {nested(65), false},
      {"[\"" + std::string(100, '[') + "\\\"[\"]", true}, {std::string(100, ']') + nested(65), false}};
  for (const auto& [text, within] : texts) EXPECT_EQ(json_bounds::nestingWithin(text), within) << text;
}

// Hands the server's conversations to the test instead of a socket.
struct FakeSockets : LocalSocketService {
  struct Listener : LocalListener {
    int* open;
    explicit Listener(int* o) : open(o) { ++*open; }
    ~Listener() override { --*open; }
  };
  int open = 0;  // listeners not yet let go
  ConversationFactory factory;
  ListenOutcome listen(const std::string&, const LocalListenerOptions&, ConversationFactory f) override {
    return factory = std::move(f), ListenOutcome{std::make_unique<Listener>(&open), "", false};
  }
};

struct FakeReply : ConversationReply {
  std::optional<std::string> bytes;
  int keepAlives = 0;
  void send(std::string b) override { bytes = bytes.value_or(std::move(b)); }
  void keepAlive() override { ++keepAlives; }
};

struct Recorder : ApprovalIslandLink, TerminalJump, PaneAnswer, KeySynthesizer, AnswerWindows {
  std::vector<std::string> calls;
  PaneAnswer::Outcome pane = PaneAnswer::Outcome::notInPane;
  std::optional<uint64_t> sessionWindow = 7, active;
  bool tabShown = true;  // the session's window shows its own tab
  void openForApproval() override { calls.push_back("open"); }
  void scheduleCollapseCheck() override { calls.push_back("collapse"); }
  void jump(const AgentSession& s) override { calls.push_back("jump " + std::to_string(s.pid)); }
  static std::string key(AnswerKey k) { return k == AnswerKey::returnKey ? " return" : " escape"; }
  Outcome sendKey(const AgentSession& s, AnswerKey k) override {
    return calls.push_back("pane " + std::to_string(s.pid) + key(k)), pane;
  }
  bool postKey(AnswerKey k) override { return calls.push_back("type" + key(k)), true; }
  std::optional<uint64_t> windowShowing(const AgentSession&) override { return sessionWindow; }
  std::optional<uint64_t> activeWindow() override { return active; }
  bool showsSession(const AgentSession&, uint64_t) override { return tabShown; }
};

// The user looks at the agents with these pids.
struct FakeAttention : AgentAttention {
  std::vector<int32_t> looked;
  bool userIsLookingAt(const AgentSession& s) override { return std::count(looked.begin(), looked.end(), s.pid) > 0; }
};

class ApprovalServerTest : public ::testing::Test {
 protected:
  VirtualDispatcher dispatcher;
  MemoryPreferences prefs;
  std::shared_ptr<FakeSockets> sockets = std::make_shared<FakeSockets>();
  std::shared_ptr<Recorder> rec = std::make_shared<Recorder>();
  std::shared_ptr<FakeAttention> attention = std::make_shared<FakeAttention>();
  // Two sessions in one folder, one alone in another; "web" runs a version without status files.
  std::vector<AgentSession> sessions{
      {.pid = 41, .projectPath = "/home/u/api", .terminalName = "xterm", .terminalPID = 900, .sessionId = "s41"},
      {.pid = 42, .projectPath = "/home/u/api", .terminalName = "xterm", .terminalPID = 900, .sessionId = "s42",
       .sessionName = "second"},
      {.pid = 43, .projectPath = "/home/u/web", .terminalName = "xterm", .terminalPID = 901}};
  std::map<int32_t, ClaudeSessionStatus> statuses;  // the status files, by pid
  bool napping = false;
  std::vector<SoundCue> cues;
  std::shared_ptr<ApprovalServer> server;

  void switches(bool claude, bool codex) {
    prefs.setBool(prefs::kNotchApprovals, claude), prefs.setBool(prefs::kCodexApprovals, codex);
  }
  void SetUp() override {
    switches(true, true);
    server = std::make_shared<ApprovalServer>(ApprovalServerDependencies{
        dispatcher, prefs, sockets, "/run/agent.sock", [this] { return sessions; }, [this] { return napping; },
        nullptr, rec, [this](SoundCue cue) { cues.push_back(cue); }, rec, rec, rec, nullptr,
        [this](int32_t pid) { return statuses.contains(pid) ? std::optional(statuses[pid]) : std::nullopt; },
        rec, attention});
    server->start();
  }
  // Sends one object as a client would (one that `leaves` hangs up at once); the reply handle of a
  // waiting request is returned.
  std::shared_ptr<FakeReply> deliver(const json& object, bool leaves = false) {
    auto reply = std::make_shared<FakeReply>();
    auto conversation = sockets->factory();
    conversation->opened(reply);
    const auto next = conversation->received(object.dump());
    if (leaves) conversation->ended();
    else if (next == StreamConversation::Next::awaitReply) conversations.push_back(std::move(conversation));
    dispatcher.runUntilIdle();
    return reply;
  }
  void setStatus(int32_t pid, const std::string& session, ClaudeSessionStatus::State state) {
    const auto waitingFor = state == ClaudeSessionStatus::State::waiting ? "permission prompt" : std::optional<std::string>();
    statuses[pid] = {pid, session, {}, {}, state, waitingFor, {}};
  }
  void restart() { server->stop(), server->start(); }
  std::vector<std::string> cards() {
    std::vector<std::string> shown;
    for (const auto& r : server->state().requests())
      shown.push_back(r.sessionId.value_or("?") + (r.road == ApprovalRoad::decision ? " decision" : " notice") +
                      (r.answerable ? "" : " (terminal)"));
    return shown;
  }
  size_t cardsAfter(Seconds s) { return dispatcher.advance(s), server->state().requests().size(); }
  // Answers the card in front; what the answer did within a second.
  std::vector<std::string> answerFront(bool allow) {
    rec->calls.clear();
    server->answer(server->state().requests().at(0).id, allow ? ApprovalDecision::allow : ApprovalDecision::deny);
    dispatcher.advance(1);
    return rec->calls;
  }
  std::vector<std::unique_ptr<StreamConversation>> conversations;
};

TEST_F(ApprovalServerTest, CardsQueueInArrivalOrderAndEachAnswerReachesItsOwnClient) {
  sessions[0].sessionName = "A_b.c d@e+f~g-h é";  // named after its folder: the folder is shown once
  auto first = deliver(envelope(asked("s41", "make")));
  auto second = deliver(envelope(asked("s42", "rm -rf build")));
  ASSERT_EQ(cards(), (std::vector<std::string>{"s41 decision", "s42 decision"}));
  const auto& requests = server->state().requests();
  EXPECT_EQ(requests[0].sessionName, std::nullopt);
  EXPECT_EQ(requests[1].sessionName, "second");
  const auto ids = std::vector{requests[0].id, requests[1].id};
  // A click on the second card answers the second, whatever is in front.
  server->answer(ids[1], ApprovalDecision::always);
  EXPECT_EQ(json::parse(*second->bytes)["updatedPermissions"], kAsked["permission_suggestions"]);
  EXPECT_FALSE(first->bytes);
  server->answer(ids[1], ApprovalDecision::deny), server->answer(ids[0], ApprovalDecision::deny);  // 2nd: answered, dropped
  EXPECT_EQ(json::parse(*first->bytes)["behavior"], "deny");
  EXPECT_TRUE(cards().empty());
  EXPECT_EQ(rec->calls, (std::vector<std::string>{"open", "open", "collapse"}));  // nothing typed
  // A client that waits gets nothing when the server stops: the agent's own prompt decides.
  auto third = deliver(envelope(asked("s41")));
  server->stop();
  EXPECT_EQ(third->bytes, "");
}

// Another machine's request: a card naming the host, answered through its own reply; notices never
// cross (their answer is typed here), and a withdrawn card takes no late click.
TEST_F(ApprovalServerTest, ARemoteRequestNamesItsHostAndIsAnsweredOnlyWhileItWaits) {
  auto noticeReply = std::make_shared<FakeReply>(), reply = std::make_shared<FakeReply>(), late = std::make_shared<FakeReply>();
  EXPECT_FALSE(server->presentRemote("devbox", envelope(notice("s41"), "notification"), noticeReply));
  EXPECT_EQ(noticeReply->bytes, "");
  const auto id = server->presentRemote("devbox", envelope(asked("s99", "make")), reply);
  ASSERT_TRUE(id);
  EXPECT_EQ(server->state().requests().at(0).projectName.rfind("devbox \u00b7 ", 0), 0u);
  server->answer(*id, ApprovalDecision::allow);
  EXPECT_EQ(json::parse(*reply->bytes)["behavior"], "allow");
  const auto second = server->presentRemote("devbox", envelope(asked("s99", "rm")), late);
  server->withdrawRemote(*second), server->answer(*second, ApprovalDecision::allow);
  EXPECT_EQ(late->bytes, "");  // no verdict, never the late allow
  EXPECT_TRUE(cards().empty());
  EXPECT_TRUE(std::find(rec->calls.begin(), rec->calls.end(), "type return") == rec->calls.end());
}

TEST_F(ApprovalServerTest, OnePromptIsOneCardAndANewRequestReplacesItsSessionsOlderOne) {
  auto decision = deliver(envelope(asked("s41")));
  dispatcher.advance(6);
  // The notice of the same prompt, 6 s later.
  EXPECT_EQ((deliver(notice("s41")), cards()), (std::vector<std::string>{"s41 decision"}));
  server->answer(server->state().requests()[0].id, ApprovalDecision::allow);
  deliver(notice("s41"));  // just after the answer: still the same prompt
  EXPECT_TRUE(cards().empty());
  // A notice first (a request of the other road cannot follow), then a new prompt of that session.
  dispatcher.advance(20), deliver(notice("s42"));
  auto older = deliver(envelope(asked("s42")));
  auto newer = deliver(envelope(asked("s42")));
  EXPECT_EQ(cards(), (std::vector<std::string>{"s42 decision"}));
  EXPECT_TRUE(older->bytes == "" && !newer->bytes);  // the older withdrawn: no verdict
  // A newer notice of a session with a notice's card: the older card goes, so its Allow can never
  // press Return into the newer prompt.
  restart(), deliver(notice("new", "/home/u/web"));
  const std::string first = server->state().requests().at(0).id;
  deliver(notice("new", "/home/u/web"));
  ASSERT_EQ(cards(), (std::vector<std::string>{"new notice"}));
  EXPECT_NE(server->state().requests()[0].id, first);
}

TEST_F(ApprovalServerTest, CardsGoWhenThePromptIsAnsweredElsewhere) {
  using S = ClaudeSessionStatus::State;
  // Statuses: one per half second (none: no status file); goneAfter < 0: the card stays.
  struct Case { const char* name; std::vector<S> statuses; bool peerLeaves; Seconds goneAfter; };
  const Case cases[] = {
      {"answered in the terminal", {S::waiting, S::waiting, S::busy}, false, 1.5},
      {"never waited (an old prompt)", {S::busy}, false, 2.0},
      {"status file without a state", {S::unknown}, false, -1},
      {"no status file", {}, false, -1},
      {"client left", {}, true, 0},
  };
  for (const auto& c : cases) {
    statuses.clear();
    auto reply = deliver(envelope(asked("s41")));
    ASSERT_EQ(cards().size(), 1u) << c.name;
    if (c.peerLeaves) conversations.back()->ended(), dispatcher.runUntilIdle();
    Seconds gone = -1;
    for (int tick = 0; tick < 8 && gone < 0; ++tick) {
      if (!c.statuses.empty()) setStatus(41, "s41", c.statuses[std::min<size_t>(tick, c.statuses.size() - 1)]);
      if (cards().empty()) gone = tick * 0.5;
      dispatcher.advance(0.5);
    }
    EXPECT_EQ(gone, c.goneAfter) << c.name;
    if (gone >= 0) EXPECT_EQ(reply->bytes.value_or("none"), "") << c.name;
    else restart();  // clears for the next case
  }
  // Another session's file at that pid means the asking session has ended.
  deliver(envelope(asked("s41"))), setStatus(41, "someone-else", ClaudeSessionStatus::State::waiting);
  EXPECT_EQ(cardsAfter(0.5), 0u);
  // Unanswered: a Codex request goes after its client's bound, before Codex gives up on the hook.
  // Meanwhile its client hears a keep-alive every 15 s, and none once the card is gone.
  auto codex = deliver(envelope(asked("codex-1"), "codex-permission-request"));
  const auto keepAlivesAfter = [&](Seconds s) { return dispatcher.advance(s), codex->keepAlives; };
  EXPECT_EQ(keepAlivesAfter(kKeepAliveInterval - 0.5), 0);
  EXPECT_EQ(keepAlivesAfter(0.5), 1);
  EXPECT_EQ(cardsAfter(ApprovalServer::kCodexDecisionBound - kKeepAliveInterval - 0.5), 1u);
  EXPECT_EQ(cardsAfter(1), 0u);
  EXPECT_EQ(keepAlivesAfter(kKeepAliveInterval), 1);
  EXPECT_EQ(codex->bytes, "");
}

TEST_F(ApprovalServerTest, NoticesMapBySessionIdAndByFolderOnlyWhenUnambiguous) {
  const std::pair<json, std::string> cases[] = {
      {notice("s42"), "s42 notice"},                               // its own session, not the first in the folder
      {notice("gone", "/home/u/api"), "gone notice (terminal)"},  // two agents there: no guess
      {notice("new", "/home/u/web"), "new notice"},               // the only agent there
      {notice(std::nullopt, "/home/u/api"), "? notice (terminal)"}};
  for (const auto& [event, expected] : cases) {
    EXPECT_EQ((deliver(event), cards()), (std::vector<std::string>{expected})) << event.dump();
    restart();
  }
  // The asking session's own window is in front: no card.
  rec->active = 7;
  EXPECT_TRUE((deliver(notice("s41")), cards().empty()));
}

TEST_F(ApprovalServerTest, ARequestFromTheAgentTheUserLooksAtIsACardWithoutCueOrIslandButNeverCodexs) {
  attention->looked = {41};
  const std::pair<json, bool> asks[] = {
      {envelope(asked("s41")), true},
      {notice("new", "/home/u/web"), false},  // another agent, bound by its folder: pops
      // Codex's pane shows only "Running hooks" while its hook waits: always pops.
      {envelope(asked("s41"), "codex-permission-request"), false}};
  for (const auto& [event, quiet] : asks) {
    deliver(event);
    ASSERT_FALSE(server->state().requests().empty());
    EXPECT_EQ(server->state().requests().back().quiet, quiet) << event.dump();
  }
  EXPECT_EQ(cards().size(), 3u);
  EXPECT_EQ(rec->calls, (std::vector<std::string>{"open", "open"}));
  EXPECT_EQ(cues, (std::vector<SoundCue>{SoundCue::approvalAsked, SoundCue::approvalAsked}));
  // A client that leaves while its asker's attention is checked never gets a card.
  restart();
  EXPECT_TRUE((deliver(envelope(asked("s42")), /*leaves=*/true), cards().empty()));
}

TEST_F(ApprovalServerTest, KeysAreTypedOnlyWhileThisSessionStillShowsItsPrompt) {
  using S = ClaudeSessionStatus::State;
  using P = PaneAnswer::Outcome;
  struct Case {  // notice: "not delivered" shown
    const char* name; std::optional<S> status; P pane; std::optional<uint64_t> window, activeAfterJump;
    bool allow; std::vector<std::string> calls; bool notice;
  };
  const Case cases[] = {
      {"tmux pane", S::waiting, P::sent, 7, 7, true, {"collapse", "pane 42 return"}, false},
      {"prompt already answered", S::busy, P::sent, 7, 7, true, {"collapse"}, false},
      {"pane shows no prompt", std::nullopt, P::noPrompt, 7, 7, true, {"collapse", "pane 42 return"}, false},
      {"its window in front", S::waiting, P::notInPane, 7, 7, false,
       {"collapse", "pane 42 escape", "jump 42", "type escape"}, false},
      {"another window of the terminal", S::waiting, P::notInPane, 7, 8, true,
       {"collapse", "pane 42 return", "jump 42"}, true},
      {"window not told apart", S::waiting, P::notInPane, std::nullopt, 7, true, {"collapse", "pane 42 return"}, true}};
  for (const auto& c : cases) {
    if (statuses.clear(); c.status) setStatus(42, "s42", *c.status);
    if (c.status == S::busy) setStatus(42, "s42", S::waiting);  // waiting when the card came
    deliver(notice("s42"));
    ASSERT_EQ(cards().size(), 1u) << c.name;
    rec->pane = c.pane, rec->sessionWindow = c.window, rec->active = c.activeAfterJump;
    server->state().setNotice(std::nullopt);
    if (c.status) setStatus(42, "s42", *c.status);
    EXPECT_EQ(answerFront(c.allow), c.calls) << c.name;
    EXPECT_EQ(server->state().notice().has_value(), c.notice) << c.name;
    rec->active.reset();
  }
  // Typed only while the window shows the session's own tab: another tab in front at the answer
  // types nothing; one in front when the notice comes makes a card that asks for the terminal.
  rec->sessionWindow = 7, deliver(notice("s42"));
  rec->active = 7, rec->tabShown = false;
  EXPECT_EQ(answerFront(true), (std::vector<std::string>{"collapse", "pane 42 return", "jump 42"}));
  EXPECT_TRUE(server->state().notice());
  rec->active.reset();
  EXPECT_EQ((deliver(notice("s42")), cards()), (std::vector<std::string>{"s42 notice (terminal)"}));
  restart(), rec->tabShown = true;
  // The agent restarted (another pid in the folder): its predecessor's answer goes nowhere.
  deliver(notice("s42")), sessions[1].pid = 99;
  EXPECT_EQ(answerFront(true), std::vector<std::string>{"collapse"});
  EXPECT_TRUE(server->state().notice());
  dispatcher.advance(ApprovalServer::kNoticeLifetime);
  EXPECT_FALSE(server->state().notice());
}

TEST_F(ApprovalServerTest, DropsRequestsDuringANapOrFromBeforeAStopAndListensOnlyWhenOn) {
  napping = true;
  auto reply = deliver(envelope(asked("s41")));
  EXPECT_TRUE(cards().empty() && reply->bytes == "");
  napping = false;
  // A request read just before a stop is never shown after it.
  auto conversation = sockets->factory();
  conversation->received(notice("s42").dump());
  restart(), dispatcher.runUntilIdle();
  EXPECT_TRUE(cards().empty() && cues.empty());
  // Each switch answers only for its own agent: the other's request gets no card and no verdict.
  for (const bool codexOn : {true, false}) {
    switches(!codexOn, codexOn), restart();
    EXPECT_TRUE(server->isListening());  // either switch alone needs the socket
    auto refused = deliver(envelope(asked("s41"), codexOn ? "permission-request" : "codex-permission-request"));
    auto served = deliver(envelope(asked("s42"), codexOn ? "codex-permission-request" : "permission-request"));
    EXPECT_TRUE(refused->bytes == "" && !served->bytes);
    EXPECT_EQ(cards(), (std::vector<std::string>{"s42 decision"}));
  }
  switches(false, false), restart();
  EXPECT_FALSE(server->isListening() || sockets->open);
}

}  // namespace
}  // namespace tovami
