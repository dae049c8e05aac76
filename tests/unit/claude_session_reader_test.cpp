#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "agents/claude_project_folder.h"
#include "agents/claude_session_reader.h"
#include "integrations/claude_code_peer.h"

namespace tovami {
namespace {

namespace fs = std::filesystem;
using claude_code::ClaudeCodeLocations;
using nlohmann::json;

std::string userLine(const std::string& text) {
  return json{{"type", "user"}, {"message", {{"role", "user"}, {"content", text}}}}.dump() + "\n";
}

std::string assistantLine(const std::string& text, const std::string& model = "claude-opus-4-8") {
  json content = json::array({json{{"type", "text"}, {"text", text}}});
  return json{{"type", "assistant"}, {"message", {{"model", model}, {"content", content}}}}.dump() + "\n";
}

std::string summaryLine(const std::string& summary) {
  return json{{"type", "summary"}, {"summary", summary}, {"leafUuid", "x"}}.dump() + "\n";
}

// A throw-away home folder with Claude Code's projects folder in it.
class ClaudeSessionReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    home_ = fs::temp_directory_path() / ("tovami-claude-" + std::to_string(random()));
    fs::create_directories(projects());
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(home_, ec);
  }

  fs::path projects() const { return home_ / ".claude" / "projects"; }
  ClaudeCodeLocations locations() const { return ClaudeCodeLocations(home_, std::nullopt); }

  fs::path write(const fs::path& path, const std::string& contents, int secondsAgo = 0) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
    setAge(path, secondsAgo);
    return path;
  }
  static void setAge(const fs::path& path, int secondsAgo) {
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::seconds(secondsAgo));
  }

  fs::path home_;
};

TEST_F(ClaudeSessionReaderTest, FindsTheProjectFolderUnderEachNamingRule) {
  // The two historical names, in order: "/" only, then also ".".
  write(projects() / "-Users-u-my-app" / "b.jsonl", userLine("dashes"));
  auto found = claude_transcript::transcriptURL("/Users/u/my.app", projects());
  ASSERT_TRUE(found);
  EXPECT_EQ(found->path.parent_path().filename(), "-Users-u-my-app");
  write(projects() / "-Users-u-my.app" / "a.jsonl", userLine("dot kept"), 100);
  EXPECT_EQ(claude_transcript::transcriptURL("/Users/u/my.app", projects())->path.parent_path().filename(),
            "-Users-u-my.app");

  // Claude Code's own rule: every character outside A-Z, a-z, 0-9 becomes "-".
  write(projects() / "-home-u-my-app-v2--n-" / "s.jsonl", userLine("underscore and space"));
  ClaudeSessionReader reader(locations());
  auto info = reader.read("/home/u/my_app v2 (n)");
  ASSERT_TRUE(info);
  EXPECT_EQ(info->title, "underscore and space");

  // Over 200 characters: the first 200 and a hash suffix we cannot compute; the newest file of the
  // matching folders wins, and a folder for another long path is not taken.
  std::string longPath = "/home/u/" + std::string(250, 'x') + "/repo";
  std::string prefix = claude_code::projectFolderName(longPath).substr(0, 200) + "-";
  write(projects() / (prefix + "abc123") / "old.jsonl", userLine("older"), 50);
  write(projects() / (prefix + "zz9") / "new.jsonl", userLine("newest"), 10);
  write(projects() / (prefix.substr(0, 199) + "y-q1") / "other.jsonl", userLine("other project"));
  EXPECT_EQ(reader.read(longPath)->title, "newest");

  EXPECT_EQ(reader.read("/home/u/unknown"), std::nullopt);
  EXPECT_EQ(reader.read(""), std::nullopt);
}

TEST_F(ClaudeSessionReaderTest, PicksTheNewestRegularTranscript) {
  const fs::path folder = projects() / "-work-api";
  write(folder / "first.jsonl", userLine("first session"), 300);
  write(folder / "second.jsonl", userLine("second session"), 200);
  write(folder / ".hidden.jsonl", userLine("hidden"), 0);
  write(folder / "notes.json", userLine("wrong extension"), 0);
  write(folder / "backup.jsonl.bak", userLine("wrong extension"), 0);
  fs::create_directories(folder / "dir.jsonl");  // newest entry, but not a file
  fs::create_symlink("/dev/null", folder / "device.jsonl");

  ClaudeSessionReader reader(locations());
  auto info = reader.read("/work/api");
  ASSERT_TRUE(info);
  EXPECT_EQ(info->title, "second session");
  ASSERT_TRUE(info->updatedAt);
  auto expected = std::chrono::file_clock::to_sys(fs::last_write_time(folder / "second.jsonl"));
  EXPECT_NEAR(*info->updatedAt, std::chrono::duration<double>(expected.time_since_epoch()).count(), 1e-6);

  // A folder without transcripts, or a file where the folder should be, means no transcript.
  fs::remove_all(folder);
  fs::create_directories(folder);
  EXPECT_EQ(reader.read("/work/api"), std::nullopt);
  write(projects() / "-work-web", "a file, not a folder");
  EXPECT_EQ(reader.read("/work/web"), std::nullopt);
}

TEST_F(ClaudeSessionReaderTest, HonoursClaudeConfigDir) {
  const fs::path custom = home_ / "elsewhere";
  write(custom / "projects" / "-p" / "s.jsonl", userLine("from the custom root"));
  write(projects() / "-p" / "s.jsonl", userLine("from the default root"));

  auto env = [&](std::string_view name) -> std::optional<std::string> {
    if (name == "HOME") return home_.string();
    if (name == claude_code::kConfigDirVariable) return custom.string();
    return std::nullopt;
  };
  ClaudeSessionReader custom_reader(ClaudeCodeLocations::fromEnvironment(env));
  EXPECT_EQ(custom_reader.read("/p")->title, "from the custom root");
  ClaudeSessionReader default_reader(ClaudeCodeLocations(home_, std::string()));
  EXPECT_EQ(default_reader.read("/p")->title, "from the default root");
}

TEST_F(ClaudeSessionReaderTest, ReadsOnlyTheHeadAndTheTailOfALargeFile) {
  std::string file = userLine("the first prompt");
  while (file.size() < 40000) file += assistantLine("early reply " + std::to_string(file.size()));
  file += summaryLine("summary beyond 32 KB");
  while (file.size() < 1024 * 1024) file += userLine("middle " + std::to_string(file.size()));
  file += userLine("latest prompt") + assistantLine("latest reply", "claude-sonnet-5");
  write(projects() / "-big" / "s.jsonl", file);

  ClaudeSessionReader reader(locations());
  auto info = reader.read("/big");
  ASSERT_TRUE(info);
  EXPECT_EQ(info->title, "the first prompt");
  EXPECT_EQ(info->youLine, "latest prompt");
  EXPECT_EQ(info->replyLine, "latest reply");
  EXPECT_EQ(info->modelName, "Sonnet 5");
}

TEST_F(ClaudeSessionReaderTest, CutFirstLineOfTheTailIsDropped) {
  // The tail begins inside a long line, exactly where a complete record starts: taken on its own
  // it would parse, but the first line of a tail that does not start the file is always dropped.
  const std::string cutRecord = userLine("cut");
  const std::string answer = assistantLine("answer");
  const std::string padding(claude_transcript::kTailBytes - cutRecord.size() - answer.size(), '\n');
  write(projects() / "-cut" / "s.jsonl",
        userLine("opening") + std::string(1000, 'z') + cutRecord + answer + padding);
  ClaudeSessionReader reader(locations());
  auto info = reader.read("/cut");
  ASSERT_TRUE(info);
  EXPECT_EQ(info->title, "opening");
  EXPECT_EQ(info->youLine, std::nullopt);
  EXPECT_EQ(info->replyLine, "answer");

  // A small file is read whole as head and tail: its first line counts.
  write(projects() / "-small" / "s.jsonl", userLine("only prompt") + std::string(10000, '\n'));
  EXPECT_EQ(reader.read("/small")->youLine, "only prompt");
}

TEST_F(ClaudeSessionReaderTest, CacheKeyedByModificationTime) {
  const fs::path path = write(projects() / "-c" / "s.jsonl",
                              userLine("question") + assistantLine("answer") + summaryLine("title"), 60);
  const auto modified = fs::last_write_time(path);
  ClaudeSessionReader reader(locations());
  auto first = reader.read("/c");
  ASSERT_TRUE(first);

  // Same modification time: the cached summary comes back, the new contents are not read.
  std::ofstream(path, std::ios::trunc) << userLine("rewritten");
  fs::last_write_time(path, modified);
  EXPECT_EQ(reader.read("/c"), first);

  // A new time re-reads; fields the tail no longer holds keep their last values.
  std::ofstream(path, std::ios::trunc) << assistantLine("new answer", "claude-foo-9");
  setAge(path, 30);
  auto second = reader.read("/c");
  ASSERT_TRUE(second);
  EXPECT_EQ(second->replyLine, "new answer");
  EXPECT_EQ(second->modelName, "Foo-9");
  EXPECT_EQ(second->youLine, "question");
  EXPECT_EQ(second->title, "title");
  EXPECT_GT(second->updatedAt, first->updatedAt);

  // A binary file with the extension keeps the earlier lines and only moves the time.
  std::string binary(100000, '\0');
  for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>((i * 131) ^ (i >> 3));
  std::ofstream(path, std::ios::binary | std::ios::trunc) << binary;
  setAge(path, 0);
  auto third = reader.read("/c");
  ASSERT_TRUE(third);
  EXPECT_EQ(third->replyLine, "new answer");
  EXPECT_GT(third->updatedAt, second->updatedAt);

  // A fresh reader has nothing to fill in from.
  ClaudeSessionReader fresh(locations());
  auto alone = fresh.read("/c");
  ASSERT_TRUE(alone);
  EXPECT_EQ(alone->replyLine, std::nullopt);
  EXPECT_TRUE(alone->updatedAt);
}

}  // namespace
}  // namespace tovami
