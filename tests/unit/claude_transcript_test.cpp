// Claude Code transcripts: their records, and finding and reading them on disk.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "agents/claude_project_folder.h"
#include "agents/claude_transcript_parsing.h"
#include "agents/user_text.h"
#include "peers/claude_code_peer.h"

namespace tovami {
namespace {

using nlohmann::json;
namespace ct = claude_transcript;
namespace fs = std::filesystem;
using claude_code::ClaudeCodeLocations;

const std::string kDash = " \u2014 ";

std::string userLine(const json& content, bool meta = false) {
  json record = {{"type", "user"}, {"message", {{"role", "user"}, {"content", content}}}};
  if (meta) record["isMeta"] = true;
  return record.dump() + "\n";
}

std::string assistantLine(const json& content, const std::string& model = "claude-opus-4-7") {
  return json{{"type", "assistant"}, {"message", {{"model", model}, {"content", content}}}}.dump() + "\n";
}
json textItem(const std::string& text) { return {{"type", "text"}, {"text", text}}; }
json toolUse(const std::string& name, const json& input) { return {{"type", "tool_use"}, {"name", name}, {"input", input}}; }
std::string answer(const std::string& text) { return assistantLine(json::array({textItem(text)})); }
std::string summaryLine(const char* summary) { return json{{"type", "summary"}, {"summary", summary}}.dump() + "\n"; }
ClaudeSessionInfo parseText(const std::string& text) { std::istringstream in(text); return ct::parse(in); }
std::string youAndReply(const ClaudeSessionInfo& i) { return i.youLine.value_or("-") + " | " + i.replyLine.value_or("-"); }
// The text fields on one line, "-" for none: title | you | reply | model | activity.
std::string fields(const ClaudeSessionInfo& info) {
  std::string out = info.title.value_or("-");
  for (const auto* f : {&info.youLine, &info.replyLine, &info.modelName, &info.activityLine}) out += " | " + f->value_or("-");
  return out;
}
TEST(ClaudeTranscriptText, CountsAndCutsUserPerceivedCharacters) {
  const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";  // one character, 18 bytes
  const std::string flag = "\U0001F1EB\U0001F1F7";                          // one character
  const std::string accented = "e\u0301\u0323";                             // e + two marks
  EXPECT_EQ(user_text::characterCount(family + flag + accented + "ab"), 5u);
  EXPECT_EQ(user_text::characterCount("a\xff\xfe"), 3u);  // bytes that are not UTF-8 count one by one
  std::string text;
  for (int i = 0; i < 100; ++i) text += family + accented;
  std::string cut = ct::clean(text);
  EXPECT_EQ(user_text::characterCount(cut), 140u);
  EXPECT_EQ(cut.size(), 70 * family.size() + 70 * accented.size());  // never splits a cluster
}
TEST(ClaudeTranscriptText, ControlAndDirectionCharactersBecomeSpaces) {
  const std::pair<std::string, std::string> cases[] = {
      {"line 1\nline 2", "line 1 line 2"},
      {"red \x1b[31mX\x1b[0m\x07", "red  [31mX [0m "},
      {std::string("nul\0end", 7), "nul end"},
      {"c1\xc2\x85|\xc2\x9b|\x7f", "c1 | | "},
      {"file\u202Egnp.exe \u2066x\u2069 \u202A\u202B\u202C\u202D", "file gnp.exe  x      "},
      {"caf\u00e9 \u2014 \u2030 \xff", "caf\u00e9 \u2014 \u2030 \xff"},  // kept
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(ct::clean(text), expected) << text;
  // Texts that reach the tray pass through clean: titles, prompts, replies, activities.
  const auto info = parseText(userLine("fix\x1b]0;pwned\x07 it") + assistantLine(json::array({textItem("done\u202E"), toolUse("Bash", {{"command", "ls\rrm"}})})));
  EXPECT_EQ(fields(info), "fix ]0;pwned  it | fix ]0;pwned  it | done  | Opus 4.7 | Bash" + kDash + "ls rm");
}
TEST(ClaudeTranscriptText, TextOfTakesTrimmedVisibleTextOnlyAndActivityTheLastToolCall) {
  auto textOf = [](const json& content) { return ct::textOf(json{{"content", content}}); };
  EXPECT_EQ(textOf("  \n fix the build\u00A0\n"), "fix the build");
  EXPECT_EQ(textOf(json(" \n\t")), std::nullopt);
  // In a list, the first usable text item wins; tool results, markup, blanks and wrong types are skipped.
  EXPECT_EQ(textOf(json::array({json{{"type", "tool_result"}, {"content", "output"}}, textItem("   "),
                                textItem("<system-reminder>x</system-reminder>"), json{{"type", "text"}, {"text", 42}},
                                "stray string", textItem("real text"), textItem("second")})), "real text");
  // The activity is the last tool call and its target.
  auto activity = [](const json& content) { return ct::toolActivity(json{{"content", content}}); };
  EXPECT_EQ(activity(json::array({toolUse("Edit", {{"file_path", "/a/b/notes.txt"}}),
                                  toolUse("Bash", {{"command", "make test"}})})), "Bash" + kDash + "make test");
  EXPECT_EQ(activity(json::array({toolUse("Edit", {{"file_path", "/a/b/notes.txt"}, {"command", "x"}})})), "Edit" + kDash + "notes.txt");
  // No usable target: the name alone. Wrong types are skipped, not fatal.
  EXPECT_EQ(activity(json::array({toolUse("Read", {{"file_path", 3}}), json{{"type", "tool_use"}, {"name", 9}}, "text",
                                  textItem("hi")})), "Read");
  EXPECT_EQ(activity("just text"), std::nullopt);
}
TEST(ClaudeTranscriptParse, TitleIsTheFirstSummaryElseTheFirstRealPromptOfTheHead) {
  std::string meta = userLine("Caveat: injected", /*meta=*/true);
  const std::string head = meta + userLine("<command-name>/init</command-name>") + userLine("first prompt");
  EXPECT_EQ(parseText(head + summaryLine("Fix login\nflow") + summaryLine("Later summary")).title, "Fix login flow");
  EXPECT_EQ(parseText(meta + userLine("first prompt") + userLine("second prompt")).title, "first prompt");
  // A summary without a string does not end the search.
  EXPECT_EQ(parseText(json{{"type", "summary"}, {"summary", nullptr}}.dump() + "\n" + userLine("p")).title, "p");
  EXPECT_EQ(parseText(meta).title, std::nullopt);
  // Past the first 32 KB a summary is not the title.
  std::string big = userLine("the first prompt");
  while (big.size() < 40000) big += answer("early reply");
  EXPECT_EQ(parseText(big + summaryLine("late")).title, "the first prompt");
}
TEST(ClaudeTranscriptParse, RecentLinesFollowTheConversation) {
  std::string file = userLine("first question") + answer("first answer") +
      assistantLine(json::array({toolUse("Bash", {{"command", "make"}})}), "claude-haiku-4-5") +
      userLine(json::array({json{{"type", "tool_result"}, {"content", "ok"}}})) +
      userLine("<local-command-stdout>x</local-command-stdout>") + userLine("injected", /*meta=*/true);
  // Tool results, markup and meta records change nothing.
  EXPECT_EQ(fields(parseText(file)), "first question | first question | first answer | Haiku 4.5 | Bash" + kDash + "make");
  // A newer prompt without an answer clears the reply; an answer without a tool keeps the activity.
  file += userLine("second question");
  EXPECT_EQ(fields(parseText(file)), "first question | second question | - | Haiku 4.5 | Bash" + kDash + "make");
  EXPECT_EQ(fields(parseText(file + answer("done"))), "first question | second question | done | Opus 4.7 | Bash" + kDash + "make");
  EXPECT_EQ(ct::modelDisplayName("\u00e9t\u00e9") + ct::modelDisplayName("claude-"), "\u00c9t\u00e9");
}

// Claude Code links each record to the one it follows and may write a turn's reply before its
// prompt: replies pair with prompts by those links, whatever the order, in one read or two.
TEST(ClaudeTranscriptParse, RepliesPairWithTheirPromptsByTheirLinks) {
  const auto linked = [](std::string line, const char* uuid, const char* parent) {
    json record = json::parse(line);
    record.update(json{{"uuid", uuid}, {"parentUuid", parent}});
    return record.dump() + "\n";
  };
  const std::string u1 = linked(userLine("one"), "u1", ""), a1 = linked(answer("re one"), "a1", "u1"),
      u2 = linked(userLine("two"), "u2", "a1"), a2 = linked(answer("re two"), "a2", "u2"),
      tool = linked(assistantLine(json::array({textItem("looking"), toolUse("Read", json::object())})), "t1", "u2"),
      result = linked(userLine(json::array({{{"type", "tool_result"}, {"content", "x"}}})), "r1", "t1"),
      a3 = linked(answer("found it"), "a3", "r1");
  const struct {
    const char* name;
    std::vector<std::string> lines;
    std::string expected;  // you | reply
  } cases[] = {
      {"in order", {u1, a1, u2, a2}, "two | re two"},
      {"an earlier prompt's late reply", {u1, u2, a1}, "two | -"},
      {"through a tool result", {u1, a1, u2, tool, result, a3}, "two | found it"},
      {"a reply before its prompt, through a tool result", {u1, a1, tool, result, a3, u2}, "two | found it"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string whole;
    for (const auto& l : c.lines) whole += l;
    EXPECT_EQ(youAndReply(parseText(whole)), c.expected);
    // The same lines in two reads, cut before the last line.
    ct::ReadMark mark;
    ClaudeSessionInfo grown;
    std::istringstream first(whole.substr(0, whole.size() - c.lines.back().size())), second(whole);
    for (auto* in : {&first, &second}) ct::readInto(*in, mark, grown);
    EXPECT_EQ(youAndReply(grown), c.expected);
  }
}
TEST(ClaudeTranscriptParse, BadRecordsAreSkipped) {
  std::string file =
      std::string("not json at all\n") + "{\"type\":\"user\",\"message\":{\"content\":\"cut\n" +
      "[1,2,3]\n\"a string\"\n{\"type\":5,\"message\":{\"content\":\"typed\"}}\n" +
      "{\"type\":\"user\",\"message\":\"flat\"}\n" +
      "{\"type\":\"assistant\",\"message\":{\"model\":7,\"content\":{\"a\":1}}}\n" +
      "{\"type\":\"user\",\"isMeta\":\"yes\",\"message\":{\"content\":\"kept\"}}\n" +
      "{\"type\":\"user\",\"message\":{\"content\":\"\xff\xfe bad utf8\"}}\n" + std::string(100000, '[') +
      "\n" + "\r\n\n\n" + std::string("\x00\x01\x02\n", 4) + userLine("last");
  EXPECT_EQ(fields(parseText(file)), "kept | last | - | - | -");  // an isMeta that is not true hides nothing
  // A deeply nested but valid line parses and is dropped without exhausting the stack.
  std::string deep = "{\"a\":" + std::string(100000, '[') + std::string(100000, ']') + "}\n";
  EXPECT_EQ(parseText(deep + userLine("after")).youLine, "after");
  EXPECT_EQ(parseText(""), ClaudeSessionInfo{});
}

// A string stream that counts the bytes it hands out.
struct CountingBuffer : std::stringbuf {
  using std::stringbuf::stringbuf;
  std::size_t delivered = 0;
  std::streamsize xsgetn(char* out, std::streamsize n) override {
    const std::streamsize got = std::stringbuf::xsgetn(out, n);
    delivered += static_cast<std::size_t>(got);
    return got;
  }
};

TEST(ClaudeTranscriptParse, ReadsOnlyTheHeadAndTailOfALargeTranscript) {
  std::string file = userLine("the first prompt");
  while (file.size() < 3 * 1024 * 1024) file += answer("ok");
  CountingBuffer buffer(file + userLine("latest prompt"));
  std::istream in(&buffer);
  EXPECT_EQ(fields(ct::parse(in)), "the first prompt | latest prompt | - | Opus 4.7 | -");
  EXPECT_LE(buffer.delivered, ct::kHeadBytes + ct::kTailBytes);
  // The tail begins inside a long line, exactly where a complete record starts: taken on its own
  // it would parse, but the first line of a tail that does not start the file is always dropped.
  const std::string cutRecord = userLine("cut"), reply = answer("answer");
  const std::string padding(ct::kTailBytes - cutRecord.size() - reply.size(), '\n');
  EXPECT_EQ(fields(parseText(userLine("opening") + std::string(1000, 'z') + cutRecord + reply + padding)),
            "opening | - | answer | Opus 4.7 | -");
  // A small file is read whole as head and tail: its first line counts.
  EXPECT_EQ(parseText(userLine("only prompt") + std::string(10000, '\n')).youLine, "only prompt");
}

// Appended lines are read from where the last read ended; an unfinished last line waits for its end.
TEST(ClaudeTranscriptParse, AGrownTranscriptIsReadFromWhereTheLastReadEnded) {
  const std::string start = userLine("first") + answer("one"), grown = start + userLine("second");
  ct::ReadMark mark;
  ClaudeSessionInfo info;
  std::istringstream first(start), second(grown + R"({"type":"user","mess)");
  ct::readInto(first, mark, info);
  EXPECT_EQ(fields(info), "first | first | one | Opus 4.7 | -");
  ct::readInto(second, mark, info);
  EXPECT_EQ(fields(info), "first | second | - | Opus 4.7 | -");
  EXPECT_EQ(mark.offset, grown.size());
}
TEST(ClaudeCodePeer, FolderNameReplacesEveryCharacterOutsideLettersAndDigits) {
  using claude_code::projectFolderName, claude_code::projectFolderPrefix;
  EXPECT_EQ(projectFolderName("/home/u/my_app v2"), "-home-u-my-app-v2");
  EXPECT_EQ(projectFolderName("/srv/caf\u00e9/~x+y@z"), "-srv-caf---x-y-z");  // é: one UTF-16 unit
  EXPECT_EQ(projectFolderName("/a/\U0001F600"), "-a---");                     // emoji: two units
  EXPECT_EQ(projectFolderName("/a/\xff\xfe"), "-a---");                       // invalid bytes: one each
  EXPECT_EQ(projectFolderPrefix(std::string(250, 'a')), std::string(200, 'a') + "-");
  EXPECT_EQ(projectFolderPrefix(std::string(200, 'a')), std::nullopt);
  // The historical names come first; names that would reach outside the folder are never tried.
  EXPECT_EQ(ct::candidateFolderNames("/home/u/my_app"), (std::vector<std::string>{"-home-u-my_app", "-home-u-my-app"}));
  EXPECT_EQ(ct::candidateFolderNames("."), (std::vector<std::string>{"-"}));
  // Without a home nothing is known, unless Claude Code's own folder is named.
  ClaudeCodeLocations nowhere("", std::nullopt);
  EXPECT_TRUE(!nowhere.isKnown() && nowhere.projectsFolder().empty() && nowhere.credentialsPath().empty());
  EXPECT_EQ(ClaudeCodeLocations("", std::string("/data/claude")).sessionStatusPath(42), "/data/claude/sessions/42.json");
  // CLAUDE_CONFIG_DIR names the folder; set empty, it is not set.
  const auto env = [](std::string config) {
    return [config](std::string_view name) -> std::optional<std::string> {
      return name == "HOME" ? "/home/u" : name == claude_code::kConfigDirVariable ? std::optional(config) : std::nullopt;
    };
  };
  EXPECT_EQ(ClaudeCodeLocations::fromEnvironment(env("/srv/c")).projectsFolder(), "/srv/c/projects");
  EXPECT_EQ(ClaudeCodeLocations::fromEnvironment(env("")).projectsFolder(), "/home/u/.claude/projects");
}

// A throw-away projects folder: the lookup the log reader makes for an agent without a status file.
class ClaudeTranscriptFilesTest : public ::testing::Test {
 protected:
  void TearDown() override { fs::remove_all(projects.parent_path()); }
  fs::path write(const fs::path& path, int secondsAgo = 0) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << userLine("p");
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::seconds(secondsAgo));
    return path;
  }
  // The newest transcript's folder and name, or "none".
  std::string newest(const std::string& projectPath) const {
    const auto files = ct::transcriptFiles(projectPath, projects);
    return files.empty() ? "none" : (files.front().path.parent_path().filename() / files.front().path.filename()).string();
  }
  fs::path projects = fs::temp_directory_path() / ("tovami-claude-" + std::to_string(std::random_device{}())) / "projects";
};

TEST_F(ClaudeTranscriptFilesTest, FindsTheProjectFolderUnderEachNamingRule) {
  // The two historical names, in order: "/" only, then also ".".
  write(projects / "-Users-u-my-app" / "b.jsonl");
  EXPECT_EQ(newest("/Users/u/my.app"), "-Users-u-my-app/b.jsonl");
  write(projects / "-Users-u-my.app" / "a.jsonl", 100);
  EXPECT_EQ(newest("/Users/u/my.app"), "-Users-u-my.app/a.jsonl");
  // Over 200 characters: the first 200 and a hash suffix we cannot compute; the newest file of the
  // matching folders wins, and a folder for another long path is not taken.
  std::string longPath = "/home/u/" + std::string(250, 'x') + "/repo";
  std::string prefix = claude_code::projectFolderName(longPath).substr(0, 200) + "-";
  write(projects / (prefix + "abc123") / "old.jsonl", 50);
  write(projects / (prefix + "zz9") / "new.jsonl", 10);
  write(projects / (prefix.substr(0, 199) + "y-q1") / "other.jsonl");
  EXPECT_EQ(newest(longPath), prefix + "zz9/new.jsonl");
  EXPECT_EQ(newest("/home/u/unknown"), "none");
  EXPECT_EQ(newest(""), "none");
}
TEST_F(ClaudeTranscriptFilesTest, TakesRegularTranscriptsOnlyNewestFirst) {
  const fs::path folder = projects / "-work-api";
  write(folder / "first.jsonl", 300);
  write(folder / "second.jsonl", 200);
  for (const char* name : {".hidden.jsonl", "notes.json", "backup.jsonl.bak"}) write(folder / name);
  fs::create_directories(folder / "dir.jsonl");  // newest entry, but not a file
  fs::create_symlink("/dev/null", folder / "device.jsonl");
  EXPECT_EQ(newest("/work/api"), "-work-api/second.jsonl");
  EXPECT_EQ(ct::transcriptFiles("/work/api", projects).size(), 2u);
  // A folder without transcripts, or a file where the folder should be, means no transcript.
  fs::remove_all(folder);
  fs::create_directories(folder);
  EXPECT_EQ(newest("/work/api"), "none");
  write(projects / "-work-web");
  EXPECT_EQ(newest("/work/web"), "none");
}

}  // namespace
}  // namespace tovami
