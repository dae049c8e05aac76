#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <streambuf>
#include <string>

#include "agents/claude_transcript_parsing.h"
#include "agents/user_text.h"

namespace tovami {
namespace {

using nlohmann::json;
namespace ct = claude_transcript;

const std::string kDash = " \u2014 ";

std::string userLine(const json& content, bool meta = false) {
  json record = {{"type", "user"}, {"message", {{"role", "user"}, {"content", content}}}};
  if (meta) record["isMeta"] = true;
  return record.dump() + "\n";
}

std::string assistantLine(const json& content, const std::string& model = "claude-opus-4-7") {
  return json{{"type", "assistant"}, {"message", {{"model", model}, {"content", content}}}}.dump() + "\n";
}

json textItem(const std::string& text) {
  return {{"type", "text"}, {"text", text}};
}

json toolUse(const std::string& name, const json& input) {
  return {{"type", "tool_use"}, {"id", "toolu_1"}, {"name", name}, {"input", input}};
}

ClaudeSessionInfo parseText(const std::string& text) {
  std::istringstream in(text);
  return ct::parse(in);
}

TEST(ClaudeTranscriptText, CountsAndCutsUserPerceivedCharacters) {
  const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";  // one character, 18 bytes
  const std::string flag = "\U0001F1EB\U0001F1F7";                          // one character
  const std::string accented = "e\u0301\u0323";                             // e + two marks
  EXPECT_EQ(user_text::characterCount(family + flag + accented + "ab"), 5u);

  std::string text;
  for (int i = 0; i < 100; ++i) text += family + accented;
  std::string cut = ct::clean(text);
  EXPECT_EQ(user_text::characterCount(cut), 140u);
  EXPECT_EQ(cut.size(), 70 * family.size() + 70 * accented.size());  // never splits a cluster

  // Short texts, and texts of exactly 140 characters, stay whole.
  std::string exact(140, 'x');
  EXPECT_EQ(ct::clean(exact), exact);
  EXPECT_EQ(ct::clean(""), "");
  // Bytes that are not UTF-8 are counted one by one and kept.
  EXPECT_EQ(user_text::characterCount("a\xff\xfe"), 3u);

  // One line of at most 140 characters: line feeds become spaces, other white space stays.
  std::string prompt;
  for (int i = 0; i < 30; ++i) prompt += "line " + std::to_string(i % 10) + "...\n";  // 300 characters
  ASSERT_EQ(prompt.size(), 300u);
  std::string cleaned = ct::clean(prompt);
  EXPECT_EQ(cleaned.size(), 140u);
  EXPECT_EQ(cleaned.find('\n'), std::string::npos);
  EXPECT_EQ(cleaned.substr(0, 20), "line 0... line 1... ");
  EXPECT_EQ(ct::clean("a\t b\r\nc"), "a\t b\r c");
}

TEST(ClaudeTranscriptText, TextOfTakesTrimmedVisibleTextOnly) {
  EXPECT_EQ(ct::textOf(json{{"content", "  \n fix the build\u00A0\n"}}), "fix the build");
  EXPECT_EQ(ct::textOf(json{{"content", "<command-name>/clear</command-name>"}}), std::nullopt);
  EXPECT_EQ(ct::textOf(json{{"content", " \n\t"}}), std::nullopt);
  // In a list, the first usable text item wins; tool results, markup, blanks and wrong types are skipped.
  json items = json::array({json{{"type", "tool_result"}, {"tool_use_id", "t"}, {"content", "output"}},
                            textItem("   "), textItem("<system-reminder>x</system-reminder>"),
                            json{{"type", "text"}, {"text", 42}}, "stray string", textItem("real text"),
                            textItem("second")});
  EXPECT_EQ(ct::textOf(json{{"content", items}}), "real text");
  EXPECT_EQ(ct::textOf(json{{"content", json::array({json{{"type", "tool_result"}}})}}), std::nullopt);
  EXPECT_EQ(ct::textOf(json{{"content", 7}}), std::nullopt);
}

TEST(ClaudeTranscriptText, ToolActivityShowsTheLastCallAndItsTarget) {
  json twoCalls = {{"content", json::array({toolUse("Edit", {{"file_path", "/a/b/notes.txt"}}),
                                            toolUse("Bash", {{"command", "make test"}})})}};
  EXPECT_EQ(ct::toolActivity(twoCalls), "Bash" + kDash + "make test");

  json edit = {
      {"content", json::array({toolUse("Edit", {{"file_path", "/a/b/notes.txt"}, {"command", "x"}})})}};
  EXPECT_EQ(ct::toolActivity(edit), "Edit" + kDash + "notes.txt");

  // No usable target: the name alone. Wrong types are skipped, not fatal.
  json odd = {
      {"content", json::array({toolUse("Read", {{"file_path", 3}}), json{{"type", "tool_use"}, {"name", 9}},
                               "text", json{{"type", "text"}, {"text", "hi"}}})}};
  EXPECT_EQ(ct::toolActivity(odd), "Read");
  EXPECT_EQ(ct::toolActivity(json{{"content", "just text"}}), std::nullopt);
  EXPECT_EQ(ct::toolActivity(json{{"content", json::array({textItem("no tools")})}}), std::nullopt);

  // A long multi-line command becomes one line of 140 characters.
  std::string script = "set -e\n";
  for (int i = 0; i < 40; ++i) script += "echo step " + std::to_string(i) + "\n";
  auto activity = ct::toolActivity(json{{"content", json::array({toolUse("Bash", {{"command", script}})})}});
  ASSERT_TRUE(activity);
  EXPECT_EQ(user_text::characterCount(*activity), 140u);
  EXPECT_EQ(activity->find('\n'), std::string::npos);
  EXPECT_EQ(activity->rfind("Bash" + kDash + "set -e echo step 0 echo step 1", 0), 0u);
}

TEST(ClaudeTranscriptText, ModelDisplayNames) {
  EXPECT_EQ(ct::modelDisplayName("claude-opus-4-7"), "Opus 4.7");
  EXPECT_EQ(ct::modelDisplayName("mythos-5-fable-5"), "Fable 5");  // first row of the table wins
  EXPECT_EQ(ct::modelDisplayName("claude-foo-9"), "Foo-9");
  EXPECT_EQ(ct::modelDisplayName("claude-opus-4-1-20250805"), "Opus-4-1-20250805");
  EXPECT_EQ(ct::modelDisplayName("\u00e9t\u00e9"), "\u00c9t\u00e9");
  EXPECT_EQ(ct::modelDisplayName("claude-"), "");
}

TEST(ClaudeTranscriptParse, TitleIsTheFirstSummaryElseTheFirstRealPrompt) {
  std::string meta = userLine("Caveat: injected", /*meta=*/true);
  std::string file = meta + userLine("<command-name>/init</command-name>") + userLine("first prompt") +
                     userLine("second prompt") +
                     R"({"type":"summary","summary":"Fix login\nflow"})"
                     "\n" +
                     R"({"type":"summary","summary":"Later summary"})"
                     "\n";
  EXPECT_EQ(parseText(file).title, "Fix login flow");

  EXPECT_EQ(parseText(meta + userLine("first prompt") + userLine("second prompt")).title, "first prompt");
  // A summary without a string does not end the search.
  EXPECT_EQ(parseText(R"({"type":"summary","summary":null})"
                      "\n" +
                      userLine("p"))
                .title,
            "p");
  EXPECT_EQ(parseText(meta).title, std::nullopt);
}

TEST(ClaudeTranscriptParse, RecentLinesFollowTheConversation) {
  std::string file =
      userLine("first question") + assistantLine(json::array({textItem("first answer")})) +
      assistantLine(json::array({toolUse("Bash", {{"command", "make"}})}), "claude-haiku-4-5") +
      userLine(json::array({json{{"type", "tool_result"}, {"content", "ok"}}})) +
      userLine("<local-command-stdout>x</local-command-stdout>") + userLine("injected", /*meta=*/true);
  ClaudeSessionInfo info = parseText(file);
  EXPECT_EQ(info.youLine, "first question");
  EXPECT_EQ(info.replyLine, "first answer");  // tool results, markup and meta records change nothing
  EXPECT_EQ(info.modelName, "Haiku 4.5");
  EXPECT_EQ(info.activityLine, "Bash" + kDash + "make");
  EXPECT_EQ(info.updatedAt, std::nullopt);

  // A newer prompt without an answer clears the reply; an answer without a tool keeps the activity.
  info = parseText(file + userLine("second question"));
  EXPECT_EQ(info.youLine, "second question");
  EXPECT_EQ(info.replyLine, std::nullopt);
  info = parseText(file + userLine("second question") + assistantLine(json::array({textItem("done")})));
  EXPECT_EQ(info.replyLine, "done");
  EXPECT_EQ(info.activityLine, "Bash" + kDash + "make");
  EXPECT_EQ(info.modelName, "Opus 4.7");
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
  ClaudeSessionInfo info = parseText(file);
  EXPECT_EQ(info.title, "kept");  // an isMeta that is not a boolean true does not hide the record
  EXPECT_EQ(info.youLine, "last");
  EXPECT_EQ(info.modelName, std::nullopt);
  EXPECT_EQ(info.replyLine, std::nullopt);

  // A deeply nested but valid line parses and is dropped without exhausting the stack.
  std::string deep = "{\"a\":" + std::string(100000, '[') + std::string(100000, ']') + "}\n";
  EXPECT_EQ(parseText(deep + userLine("after")).youLine, "after");

  EXPECT_EQ(parseText(""), ClaudeSessionInfo{});
  std::string binary(70000, '\0');
  for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>((i * 7919) & 0xff);
  EXPECT_EQ(parseText(binary), ClaudeSessionInfo{});
}

// A read-only stream of `size` bytes that repeat `pattern`, counting every byte it hands out.
class PatternBuffer : public std::streambuf {
 public:
  PatternBuffer(std::string pattern, std::uint64_t size) : pattern_(std::move(pattern)), size_(size) {}
  std::uint64_t delivered = 0;

 protected:
  std::streamsize xsgetn(char* out, std::streamsize n) override {
    std::uint64_t count = std::min<std::uint64_t>(static_cast<std::uint64_t>(n), size_ - position_);
    for (std::uint64_t i = 0; i < count; ++i) out[i] = pattern_[(position_ + i) % pattern_.size()];
    position_ += count;
    delivered += count;
    return static_cast<std::streamsize>(count);
  }
  int_type underflow() override {
    if (position_ >= size_) return traits_type::eof();
    current_ = pattern_[position_ % pattern_.size()];
    ++delivered;
    ++position_;
    setg(&current_, &current_, &current_ + 1);
    return traits_type::to_int_type(current_);
  }
  pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) override {
    std::int64_t base = dir == std::ios_base::beg ? 0
                        : dir == std::ios_base::end
                            ? static_cast<std::int64_t>(size_)
                            : static_cast<std::int64_t>(position_) - (egptr() - gptr());
    return seekpos(pos_type(base + off), std::ios_base::in);
  }
  pos_type seekpos(pos_type pos, std::ios_base::openmode) override {
    std::int64_t target = static_cast<std::int64_t>(pos);
    if (target < 0 || static_cast<std::uint64_t>(target) > size_) return pos_type(off_type(-1));
    position_ = static_cast<std::uint64_t>(target);
    setg(nullptr, nullptr, nullptr);
    return pos;
  }

 private:
  std::string pattern_;
  std::uint64_t size_;
  std::uint64_t position_ = 0;
  char current_ = 0;
};

TEST(ClaudeTranscriptParse, ReadsOnlyTheHeadAndTailOfAHugeTranscript) {
  const std::uint64_t twoGigabytes = 2ull * 1024 * 1024 * 1024 + 123;
  PatternBuffer buffer(
      userLine("the same prompt, over and over") + assistantLine(json::array({textItem("ok")})),
      twoGigabytes);
  std::istream in(&buffer);
  ClaudeSessionInfo info = ct::parse(in);
  EXPECT_LE(buffer.delivered, ct::kHeadBytes + ct::kTailBytes);
  EXPECT_EQ(info.title, "the same prompt, over and over");
  EXPECT_TRUE(info.youLine.has_value());
  EXPECT_EQ(info.modelName, "Opus 4.7");
}

}  // namespace
}  // namespace tovami
