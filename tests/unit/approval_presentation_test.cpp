#include <gtest/gtest.h>

#include <deque>
#include <tuple>
#include <nlohmann/json.hpp>

#include "approvals/approval_notifier.h"
#include "approvals/approval_presentation.h"
#include "approvals/hook_client.h"
#include "support/virtual_dispatcher.h"

namespace tovami {
namespace {

using testing::VirtualDispatcher;

ApprovalRequest asked(std::string id, std::string command, std::string project = "api") {
  ApprovalRequest request{std::move(id), "Bash", std::move(command), std::move(project), {}, 0};
  request.road = ApprovalRoad::decision;
  return request;
}

// Recorded suggestions: a rule for the session; a folder together with a mode for the session.
constexpr const char* kReadRule =
    R"([{"type":"addRules","rules":[{"toolName":"Read","ruleContent":"//var/scratch/**"}],"behavior":"allow","destination":"session"}])";
constexpr const char* kFolderAndMode =
    R"([{"type":"addDirectories","directories":["/var/scratch/research/claude"],"destination":"session"},{"type":"setMode","mode":"acceptEdits","destination":"session"}])";

ApprovalRequest withSuggestions(ApprovalRequest request, const char* suggestions) {
  request.always = describeSuggestions(nlohmann::json::parse(suggestions));
  request.permissionSuggestions = request.always.json;
  request.canAlwaysAllow = !request.always.empty();
  return request;
}

TEST(AlwaysInWords, EachKindAndScopeIsSaidAndOnlyWhatIsSaidIsKept) {
  const std::vector<std::tuple<std::string, std::string, std::string, std::size_t>> cases{
      // suggestions, the sentence, the button, how many are kept
      {kReadRule, "Always allow `Read(//var/scratch/**)` for this session", "Always", 1},
      {kFolderAndMode,
       "Allow work in /var/scratch/research/claude for this session, and accept every edit for the rest of "
       "this session",
       "Allow + accept edits", 2},
      {R"([{"type":"addRules","rules":[{"toolName":"Bash","ruleContent":"sh -c 'touch a'"}],"behavior":"allow","destination":"localSettings"}])",
       "Always allow `Bash(sh -c 'touch a')` in this project, for you", "Always", 1},
      {R"([{"type":"addRules","rules":[{"toolName":"WebFetch"},{"toolName":"Bash","ruleContent":"make:*"}],"behavior":"allow","destination":"projectSettings"}])",
       "Always allow `WebFetch`, `Bash(make:*)` in this project", "Always", 1},
      {R"([{"type":"addRules","rules":[{"toolName":"Bash","ruleContent":"rm\n-rf"}],"behavior":"deny","destination":"userSettings"}])",
       "Always deny `Bash(rm -rf)` in every project", "Always", 1},
      // Codex's prefix rules.
      {R"([{"type":"addRules","rules":[{"prefixRule":["git","status"]}],"behavior":"allow","destination":"session"}])",
       "Always allow `git status …` for this session", "Always", 1},
      // What cannot be put into words is left out, never sent: an unknown kind, scope or mode, a
      // second mode change, a rule with a content that is not text, a list too long to read.
      {R"([{"type":"replaceRules","rules":[{"toolName":"Bash"}],"behavior":"allow","destination":"session"},
           {"type":"addRules","rules":[{"toolName":"Bash"}],"behavior":"allow","destination":"cliArg"},
           {"type":"setMode","mode":"yolo","destination":"session"},
           {"type":"addRules","rules":[{"toolName":"Bash","ruleContent":7}],"behavior":"allow","destination":"session"},
           {"type":"addDirectories","directories":["/a","/b","/c","/d","/e","/f","/g","/h","/i"],"destination":"session"},
           {"type":"setMode","mode":"plan","destination":"localSettings"},
           {"type":"setMode","mode":"acceptEdits","destination":"session"}, 3, "x"])",
       "Only plan, changing nothing in this project from now on, for you", "Allow + plan only", 1},
      {R"({"type":"addRules"})", "", "Always", 0},
  };
  for (const auto& [suggestions, sentence, button, kept] : cases) {
    SCOPED_TRACE(suggestions);
    const auto described = describeSuggestions(nlohmann::json::parse(suggestions));
    EXPECT_EQ(described.sentence(), sentence);
    EXPECT_EQ(described.buttonLabel(), button);
    EXPECT_EQ(described.phrases.size(), kept);
    EXPECT_EQ(described.json.empty() ? 0u : nlohmann::json::parse(described.json).size(), kept);
  }
}

TEST(AlwaysInWords, TheReplyCarriesExactlyTheSuggestionsShown) {
  const auto event =
      nlohmann::json::parse(std::string(R"({"hook_event_name":"PermissionRequest","tool_name":"Bash",
      "tool_input":{"command":"touch a"},"permission_suggestions":)") +
                            R"([{"type":"removeDirectories","directories":["/"],"destination":"session"},)" +
                            std::string(kFolderAndMode).substr(1) + "}");
  const auto request = approvalRequestFrom(event, "id", 0);
  ASSERT_TRUE(request && request->canAlwaysAllow);
  const auto reply = nlohmann::json::parse(decisionReply(*request, ApprovalDecision::always, ""));
  EXPECT_EQ(reply["updatedPermissions"], nlohmann::json::parse(kFolderAndMode));
  EXPECT_FALSE(reply.contains("interrupt"));
}

TEST(ApprovalPresentation, TrayRowsSayWhatIsAskedAndAnswerTheRequestTheyWereBuiltFor) {
  using D = ApprovalDecision;
  ApprovalState state;
  EXPECT_TRUE(approvalMenuRows(state).empty());
  state.add(withSuggestions(asked("r1", "npm test"), kReadRule));
  state.add(asked("r2", "rm -rf build"));
  EXPECT_EQ(approvalMenuRows(state),
            (std::vector<ApprovalMenuRow>{
                {"Allow: api \u2014 Bash npm test", "r1", D::allow},
                {"Always allow `Read(//var/scratch/**)` for this session", "r1", D::always},
                {"Deny", "r1", D::deny},
                {"1 more request waits", {}, std::nullopt}}));
  // Answering the first shows the next; a notice is said as a row of its own.
  state.remove("r1");
  state.setNotice(ApprovalNotice{"Answer not delivered: the session has ended", 0});
  EXPECT_EQ(approvalMenuRows(state), (std::vector<ApprovalMenuRow>{
                                         {"Allow: api \u2014 Bash rm -rf build", "r2", D::allow},
                                         {"Deny", "r2", D::deny},
                                         {"Answer not delivered: the session has ended", {}, std::nullopt}}));

  // A notice that could not be tied to one session offers no answer.
  ApprovalRequest notice{"n", "Claude Code", "Claude needs your permission", "web", {}, 0};
  notice.answerable = false;
  state.setPending(notice);
  EXPECT_EQ(approvalMenuRows(state)[0],
            (ApprovalMenuRow{"web \u2014 Claude needs your permission: answer in the terminal", {}, std::nullopt}));
}

TEST(ApprovalPresentation, NotificationOffersActionsOnlyWhereTheServerHasThem) {
  ApprovalRequest request = withSuggestions(asked("r1", "grep <a> & b"), kFolderAndMode);
  request.sessionName = "refactor";
  request.agent = ApprovalAgent::codex;
  const auto rich = approvalNotification(request, 3, notificationOffer({"body", "actions", "body-markup"}));
  EXPECT_EQ(rich.summary, "Codex asks \u2014 api");
  const std::string grants =
      "Allow + accept edits: allow work in /var/scratch/research/claude for this session, and accept every "
      "edit for the rest of this session";
  EXPECT_EQ(rich.body,
            "Bash grep &lt;a&gt; &amp; b\nSession: refactor\n" + grants + "\n2 more requests wait");
  EXPECT_EQ(rich.actions,
            (std::vector<DesktopNotification::Action>{
                {"allow:r1", "Allow"}, {"always:r1", "Allow + accept edits"}, {"deny:r1", "Deny"}}));
  const auto plain = approvalNotification(request, 1, notificationOffer({"body"}));
  EXPECT_TRUE(plain.actions.empty());
  EXPECT_EQ(plain.body,
            "Bash grep <a> & b\nSession: refactor\n" + grants + "\nAnswer from Tovami's tray menu.");

  EXPECT_EQ(approvalActionFromKey("always:r1"), (std::pair{std::string("r1"), ApprovalDecision::always}));
  for (const char* key : {"default", "allow:", "maybe:r1", ""})
    EXPECT_EQ(approvalActionFromKey(key), std::nullopt) << key;
}

// A notification server that answers when told to, and records what it was asked.
class FakeNotifications final : public DesktopNotifications {
 public:
  void setHandlers(Handlers handlers) override { handlers_ = std::move(handlers); }
  void capabilities(std::function<void(std::optional<std::vector<std::string>>)> done) override {
    ++capabilityCalls;
    done(offered);
  }
  void notify(const DesktopNotification& notification, Id replaces,
              std::function<void(std::optional<Id>)> done) override {
    log.push_back("notify " + std::to_string(replaces) + " " +
                  notification.body.substr(0, notification.body.find('\n')));
    waiting.push_back([this, replaces, done] { done(replaces ? replaces : nextId++); });
  }
  void close(Id id) override { log.push_back("close " + std::to_string(id)); }
  // Answers every call waiting (answers may queue more); what the server was last asked.
  std::string answerAll() {
    for (; !waiting.empty(); waiting.pop_front()) waiting.front()();
    return log.empty() ? "" : log.back();
  }
  Handlers handlers_;
  std::deque<std::function<void()>> waiting;
  std::vector<std::string> log;
  Id nextId = 7;
  int capabilityCalls = 0;
  std::optional<std::vector<std::string>> offered = std::vector<std::string>{"actions"};
};

TEST(ApprovalNotifier, ShowsReplacesAndClosesWithTheIslandOffAndAnswersOnlyWhatWasShown) {
  VirtualDispatcher dispatcher;
  ApprovalState state;
  auto server = std::make_shared<FakeNotifications>();
  bool island = false;
  std::vector<std::pair<std::string, ApprovalDecision>> answers;
  auto notifier = std::make_unique<ApprovalNotifier>(ApprovalNotifierDependencies{
      state, server, dispatcher.clock(), [&] { return island; },
      [&](const std::string& id, ApprovalDecision decision) { answers.emplace_back(id, decision); }});

  state.add(asked("r1", "ls"));
  state.add(asked("r2", "make"));  // a second request while the first is still being sent
  server->answerAll();
  EXPECT_EQ(server->log, (std::vector<std::string>{"notify 0 Bash ls", "notify 7 Bash ls"}));
  server->handlers_.actionInvoked(7, "allow:r1");  // too soon to have been read
  dispatcher.advance(1);
  server->handlers_.actionInvoked(8, "allow:r1");  // another notification
  server->handlers_.actionInvoked(7, "deny:r2");   // not the request it shows
  EXPECT_TRUE(answers.empty());
  server->handlers_.actionInvoked(7, "allow:r1");
  EXPECT_EQ(answers,
            (std::vector<std::pair<std::string, ApprovalDecision>>{{"r1", ApprovalDecision::allow}}));

  // Answered: the next request replaces it, and its buttons wait to be read too.
  state.remove("r1");
  EXPECT_EQ(server->answerAll(), "notify 7 Bash make");
  server->handlers_.actionInvoked(7, "deny:r2");
  dispatcher.advance(1);
  server->handlers_.actionInvoked(7, "deny:r2");
  EXPECT_EQ(answers.back(), (std::pair{std::string("r2"), ApprovalDecision::deny}));

  // Withdrawn: closed. Nothing is shown while the island shows the card.
  state.remove("r2");
  EXPECT_EQ(server->log.back(), "close 7");
  // Asked while the user looked at its agent: in the tray only; one asked behind it while the user
  // did not is notified all the same.
  ApprovalRequest quiet = asked("q", "top");
  quiet.quiet = true;
  state.add(quiet);
  EXPECT_EQ(server->answerAll(), "close 7");
  state.add(asked("r4", "df"));
  EXPECT_EQ(server->answerAll(), "notify 0 Bash df");
  state.remove("r4");
  state.remove("q");
  EXPECT_EQ(server->log.back(), "close 8");
  island = true;
  state.add(asked("r3", "pwd"));
  EXPECT_EQ(server->log.back(), "close 8");
  island = false;
  notifier->refresh();
  EXPECT_EQ(server->answerAll(), "notify 0 Bash pwd");
  // Dismissed by the user: not shown again for the same content; closed with the notifier.
  server->handlers_.closed(9);
  state.setNotice(ApprovalNotice{"Answer not delivered: x", 0});
  EXPECT_EQ(server->answerAll(), "notify 0 Answer not delivered: x");
  notifier.reset();
  EXPECT_EQ(server->log.back(), "close 10");
  EXPECT_EQ(server->capabilityCalls, 1);
}

TEST(ApprovalNotifier, WithoutANotificationServerAsksAgainWithTheNextRequest) {
  VirtualDispatcher dispatcher;
  ApprovalState state;
  auto server = std::make_shared<FakeNotifications>();
  server->offered.reset();
  ApprovalNotifier notifier({state, server, dispatcher.clock(), {}, {}});
  state.add(asked("r1", "ls"));
  EXPECT_TRUE(server->log.empty());
  server->offered = std::vector<std::string>{"body"};
  state.add(asked("r2", "make"));
  server->answerAll();
  EXPECT_EQ(server->capabilityCalls, 2);
  EXPECT_EQ(server->log, (std::vector<std::string>{"notify 0 Bash ls"}));
}

}  // namespace
}  // namespace tovami
