// Agent conversation logs on disk: each running agent bound to its own session's log, what the
// logs of Claude Code, Codex and Gemini CLI say, and logs that are damaged, huge, replaced or not
// files at all.
#include "agents/agent_logs.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#include "agents/agent_session.h"

namespace tovami {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

using Text = const std::string&;

std::string line(const json& record) { return record.dump() + "\n"; }
std::string claudeUser(Text text) { return line({{"type", "user"}, {"message", {{"role", "user"}, {"content", text}}}}); }
std::string claudeReply(Text text) {
  const json content = json::array({{{"type", "text"}, {"text", text}}});
  return line({{"type", "assistant"}, {"message", {{"model", "claude-opus-4-7"}, {"content", content}}}});
}
// Shapes as Codex 0.171 wrote them offline (the instructions cut short).
std::string codexMeta(Text cwd, Text id = "01a24e81-6651", Text time = "2026-12-07T03:17:12.930Z") {
  return line({{"timestamp", time}, {"type", "session_meta"},
               {"payload", {{"id", id}, {"timestamp", time}, {"cwd", cwd},
                            {"base_instructions", {{"text", std::string(30000, 'i')}}}}}});
}
std::string codexUser(Text text) {
  return line({{"type", "response_item"},
               {"payload", {{"type", "message"}, {"role", "user"},
                            {"content", json::array({{{"type", "input_text"}, {"text", "<environment_context>x"}},
                                                     {{"type", "input_text"}, {"text", text}}})}}}});
}
std::string codexReply(Text text) {
  return line({{"type", "event_msg"}, {"payload", {{"type", "agent_message"}, {"message", text}}}}) +
         line({{"type", "turn_context"}, {"payload", {{"model", "gpt-6.2-sol"}, {"cwd", "/p"}}}});
}
// Shapes as Gemini CLI 0.61 wrote them offline.
std::string geminiUser(Text text) { return line({{"id", "u"}, {"type", "user"}, {"content", json::array({{{"text", text}}})}}); }
std::string geminiReply(Text text) { return line({{"id", "g"}, {"type", "gemini"}, {"content", text}, {"model", "gemini-3-pro"}}); }
std::string geminiHeader(Text id, Text time) {
  return line({{"sessionId", id}, {"projectHash", "h"}, {"startTime", time}, {"kind", "main"}});
}

class AgentLogsTest : public ::testing::Test {
 protected:
  void TearDown() override { fs::remove_all(home_); }
  AgentLogLocations locations() const {
    return {claude_code::ClaudeCodeLocations(home_, std::nullopt), home_ / ".codex" / "sessions", home_ / ".gemini"};
  }
  fs::path write(const fs::path& path, const std::string& contents, std::ios::openmode mode = std::ios::trunc) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | mode) << contents;
    return path;
  }
  fs::path claudeFolder(Text project) const { return home_ / ".claude" / "projects" / claude_code::projectFolderName(project); }
  void claudeStatus(int32_t pid, const std::string& session, const std::string& extra = "") {
    write(home_ / ".claude" / "sessions" / (std::to_string(pid) + ".json"),
          R"({"pid":)" + std::to_string(pid) + R"(,"sessionId":")" + session +
              R"(","cwd":"/w/api","procStart":"777","status":"idle")" + extra + "}");
  }
  fs::path codexRollout(Text name) const { return home_ / ".codex" / "sessions/2026/12/07" / ("rollout-" + name + ".jsonl"); }
  fs::path geminiChats() const { return home_ / ".gemini" / "tmp" / "api" / "chats"; }
  void geminiKnowsApi() { write(home_ / ".gemini" / "projects.json", R"({"projects":{"/w/api":"api"}})"); }
  AgentLogRequest request(int32_t pid, const std::string& agent, Seconds after = 0) const {
    return {pid, agent, "/w/api", kStart + after, 777, {}};
  }
  // "you | reply | model" of the report, or "none".
  std::string said(const AgentLogReport& report) const {
    const auto& c = report.conversation;
    return c ? c->youLine.value_or("-") + " | " + c->replyLine.value_or("-") + " | " + c->modelName.value_or("-") : "none";
  }
  static constexpr Seconds kStart = 1796613400;  // the agents' start: every file here is newer
  fs::path home_ = fs::temp_directory_path() / ("tovami-logs-" + std::to_string(std::random_device{}()));
};

TEST_F(AgentLogsTest, TwoClaudeSessionsInOneFolderEachShowTheirOwnConversation) {
  write(claudeFolder("/w/api") / "s-old.jsonl", claudeUser("older session's prompt") + claudeReply("old reply"));
  write(claudeFolder("/w/api") / "s-new.jsonl", claudeUser("newer session's prompt"));
  claudeStatus(10, "s-old", R"(,"name":"status-name")");
  claudeStatus(11, "s-new");
  AgentLogReader reader(locations());
  const auto first = reader.read(request(10, "Claude Code")), second = reader.read(request(11, "Claude Code"));
  EXPECT_EQ(said(first), "older session's prompt | old reply | Opus 4.7");  // each its own: test_agent_sessions
  EXPECT_EQ(std::tie(first.sessionId, second.sessionId), std::make_tuple("s-old", "s-new"));
  // Another process start: the status file belongs to an ended session whose pid was reused.
  auto reused = request(10, "Claude Code");
  reused.processStart = 778;
  EXPECT_FALSE(reader.read(reused).sessionId);
  // Names: the user's title, else the generated one, else the status file's, else the folder.
  const auto name = [&](int32_t pid) {
    const auto report = reader.read(request(pid, "Claude Code"));
    return agentSessionName(report.conversation, report.status ? report.status->name : std::nullopt, "api");
  };
  EXPECT_EQ(name(10), "status-name");
  const auto append = [&](Text text) { write(claudeFolder("/w/api") / "s-old.jsonl", text, std::ios::app); };
  append(line({{"type", "ai-title"}, {"aiTitle", "Generated\u202e title"}}));
  EXPECT_EQ(name(10), "Generated  title");
  append(line({{"type", "custom-title"}, {"customTitle", "Mine"}}) + line({{"type", "ai-title"}, {"aiTitle", "Later generated"}}));
  EXPECT_EQ(name(10), "Mine");
}
// Without a status file: the transcript the agent holds open, else the newest one no other agent has.
// The reader keeps a binding per agent: one not read in a scan has ended, and its log is free again
// (agents come and go by the thousand over a day; a kept binding would also hide the log).
TEST_F(AgentLogsTest, WithoutAStatusFileOpenTranscriptsThenTheNewestFreeOneUntilItsAgentEnds) {
  const auto a = write(claudeFolder("/w/api") / "a.jsonl", claudeUser("held open"));
  write(claudeFolder("/w/api") / "b.jsonl", claudeUser("newest"));
  AgentLogReader reader(locations());
  auto holding = request(20, "Claude Code");
  holding.openFiles = [&] { return std::vector<std::string>{"/etc/passwd", a.string()}; };
  const auto held = reader.read(holding);
  EXPECT_EQ(said(held), "held open | - | -");
  EXPECT_EQ(held.sessionId, "a");
  const auto guessed = reader.read(request(21, "Claude Code"));
  EXPECT_EQ(said(guessed), "newest | - | -");
  EXPECT_FALSE(guessed.sessionId);  // a guess claims no session
  reader.scanEnded();
  reader.scanEnded();  // a scan without agents 20 and 21: they ended
  EXPECT_EQ(said(reader.read(request(22, "Claude Code"))), "newest | - | -");
}
// A log found is followed; one found without the agent's word for it is looked for again now and
// then, one named by a status file as soon as the status names another session.
TEST_F(AgentLogsTest, AFoundLogIsFollowedUntilTheAgentMovesOn) {
  write(codexRollout("a"), codexMeta("/w/api") + codexUser("first session"));
  write(claudeFolder("/w/api") / "s1.jsonl", claudeUser("claude first"));
  write(claudeFolder("/w/api") / "s2.jsonl", claudeUser("claude second"));
  claudeStatus(10, "s1");
  AgentLogReader reader(locations());
  EXPECT_EQ(said(reader.read(request(30, "Codex"))), "first session | - | -");
  EXPECT_EQ(said(reader.read(request(10, "Claude Code"))), "claude first | - | -");
  const auto newer = write(codexRollout("b"), codexMeta("/w/api") + codexUser("second session"));
  fs::last_write_time(newer, fs::last_write_time(newer) + std::chrono::seconds(10));
  claudeStatus(10, "s2");
  EXPECT_EQ(said(reader.read(request(10, "Claude Code"))), "claude second | - | -");
  uint32_t reads = 1;
  while (said(reader.read(request(30, "Codex"))).starts_with("first") && reads < 20) ++reads;
  EXPECT_EQ(reads, AgentLogReader::kFindAgainEvery);
}
TEST_F(AgentLogsTest, CodexAndGeminiRowsShowPromptReplyAndModel) {
  write(codexRollout("other"), codexMeta("/w/elsewhere") + codexUser("not ours"));
  write(codexRollout("ours"), codexMeta("/w/api") + codexUser("add a health endpoint") + codexReply("Added /health."));
  geminiKnowsApi();
  write(geminiChats() / "session-1.jsonl",
        line({{"sessionId", "g1"}, {"kind", "main"}}) +
            line({{"$set", {{"messages", json::array({json::parse(geminiUser("<session_context>"))})}}}}) +
            geminiUser("explain the cache") + geminiReply("It keeps the last ten.") + "{damaged\n");
  AgentLogReader reader(locations());
  const auto codex = reader.read(request(30, "Codex"));
  EXPECT_EQ(said(codex), "add a health endpoint | Added /health. | gpt-6.2-sol");
  EXPECT_EQ(codex.sessionId, "01a24e81-6651");
  const auto gemini = reader.read(request(31, "Gemini CLI"));
  EXPECT_EQ(said(gemini), "explain the cache | It keeps the last ten. | gemini-3-pro");
  EXPECT_EQ(gemini.sessionId, "g1");
  // The older one-document form, and a project found by its .project_root alone.
  write(home_ / ".gemini" / "tmp" / "h1" / ".project_root", "/w/web\n");
  write(home_ / ".gemini" / "tmp" / "h1" / "chats" / "session-2.json",
        line({{"messages", json::array({json::parse(geminiUser("old form")), json::parse(geminiReply("yes"))})}}));
  auto web = request(32, "Gemini CLI");
  web.projectPath = "/w/web";
  EXPECT_EQ(said(reader.read(web)), "old form | yes | gemini-3-pro");
}
// Two sessions of one agent in one folder (Codex's shared app-server makes every rollout look
// held by the first one): each process gets the log whose session started closest after it, one
// to one, whichever session was prompted last and whichever process is read first.
TEST_F(AgentLogsTest, SessionsOfOneAgentInOneFolderEachGetTheirOwn) {
  geminiKnowsApi();
  const struct { const char* agent; std::function<fs::path(Text id, Text time, Text prompt)> write; } kinds[] = {
      {"Codex", [&](Text id, Text time, Text prompt) { return write(codexRollout(id), codexMeta("/w/api", id, time) + codexUser(prompt)); }},
      {"Gemini CLI", [&](Text id, Text time, Text prompt) {
         return write(geminiChats() / ("session-" + id + ".jsonl"), geminiHeader(id, time) + geminiUser(prompt));
       }}};
  // A started at kStart, B a minute later; their sessions two seconds after each.
  const auto clearLogs = [&] { fs::remove_all(home_ / ".codex"), fs::remove_all(geminiChats()); };
  const char *aTime = "2026-12-07T03:16:42.000Z", *bTime = "2026-12-07T03:17:42.000Z";
  // Whether A's session is written and was prompted last, whether B is read first; each row's "prompt | session id".
  const struct { const char* name; bool aWritten, aLast, bFirstRead; std::string a, b; } cases[] = {
      {"B prompted, then A", true, true, false, "a's prompt | s-a", "b's prompt | s-b"},
      {"A prompted, then B", true, false, false, "a's prompt | s-a", "b's prompt | s-b"},
      {"A prompted, then B; B read first", true, false, true, "a's prompt | s-a", "b's prompt | s-b"},
      {"only B prompted", false, false, false, "none | -", "b's prompt | s-b"},
      {"only B prompted; B read first", false, false, true, "none | -", "b's prompt | s-b"},
  };
  for (const auto& kind : kinds)
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(kind.agent) + ": " + c.name);
      clearLogs();
      const fs::path b = kind.write("s-b", bTime, "b's prompt");
      if (c.aWritten) {
        const fs::path a = kind.write("s-a", aTime, "a's prompt");
        fs::last_write_time(c.aLast ? a : b, fs::last_write_time(b) + std::chrono::seconds(5));
      }
      const auto a = request(50, kind.agent), later = request(51, kind.agent, 60);
      AgentLogReader reader(locations());
      reader.scanStarting({a, later});
      const auto row = [&](const AgentLogRequest& r) {
        const auto report = reader.read(r);
        return said(report).substr(0, said(report).find(" |")) + " | " + report.sessionId.value_or("-");
      };
      const std::string second = c.bFirstRead ? row(later) : "", first = row(a);
      EXPECT_EQ(first, c.a);
      EXPECT_EQ(c.bFirstRead ? second : row(later), c.b);
    }
  // Started a moment apart, both sessions began after both agents started (Codex's shared app-server
  // begins them seconds later, in either order): neither row is given a conversation it may not own.
  for (const auto& kind : kinds) {
    SCOPED_TRACE(std::string(kind.agent) + ": started a moment apart");
    clearLogs();
    kind.write("s-b", aTime, "b's prompt");
    kind.write("s-a", "2026-12-07T03:16:42.200Z", "a's prompt");
    const auto a = request(50, kind.agent), soon = request(51, kind.agent, 0.5);
    AgentLogReader reader(locations());
    reader.scanStarting({a, soon});
    for (const auto* r : {&a, &soon}) {
      const auto report = reader.read(*r);
      EXPECT_FALSE(report.sessionId || report.conversation) << r->pid << " " << said(report);
    }
  }
  // A rollout Codex holds open itself is its own, whatever the start times say.
  const fs::path bs = kinds[0].write("s-b", bTime, "b's prompt");
  auto a = request(50, "Codex"), later = request(51, "Codex", 60);
  a.openFiles = [&] { return std::vector<std::string>{bs.string()}; };
  AgentLogReader reader(locations());
  reader.scanStarting({a, later});
  EXPECT_EQ(reader.read(a).sessionId, "s-b");
  EXPECT_FALSE(reader.read(later).sessionId);
}
// For every agent: a damaged line is skipped, a 2 GB sparse log costs only its head and tail, a
// log replaced while followed is read afresh, and a FIFO in its place is never opened.
TEST_F(AgentLogsTest, DamagedHugeReplacedAndNonRegularLogs) {
  geminiKnowsApi();
  claudeStatus(40, "c1");
  const struct { const char* agent; fs::path path; std::string start; std::string (*user)(Text); } cases[] = {
      {"Claude Code", claudeFolder("/w/api") / "c1.jsonl", "", claudeUser},
      {"Codex", codexRollout("c2"), codexMeta("/w/api"), codexUser},
      {"Gemini CLI", geminiChats() / "session-c3.jsonl", line({{"sessionId", "c3"}}), geminiUser}};
  int32_t pid = 40;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.agent);
    AgentLogReader reader(locations());
    const auto ask = [&] { return said(reader.read(request(pid, c.agent))).substr(0, 12); };
    write(c.path, c.start + c.user("first prompt") + "{\"type\":\"user\",\"message\n" + c.user("second"));
    EXPECT_EQ(ask(), "second | - |");
    // Sparse to 2 GB, then a line: only the head and the tail are read.
    fs::resize_file(c.path, (std::uintmax_t{2} << 30) + 17);
    write(c.path, "\n" + c.user("past 2 GB"), std::ios::app);
    EXPECT_EQ(ask(), "past 2 GB | ");
    // Replaced by a shorter log (a rewrite): read afresh.
    write(c.path, c.start + c.user("replaced"));
    EXPECT_EQ(ask(), "replaced | -");
    write(c.path, c.user("grown"), std::ios::app);
    EXPECT_EQ(ask(), "grown | - | ");
    // A FIFO in the log's place would block an open: it is not a log.
    fs::remove(c.path);
    ASSERT_EQ(::mkfifo(c.path.c_str(), 0600), 0);
    EXPECT_EQ(ask(), "none");
    ++pid;
  }
}

}  // namespace
}  // namespace tovami
