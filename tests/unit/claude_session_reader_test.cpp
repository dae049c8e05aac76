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

// A throw-away home folder with Claude Code's projects folder in it.
class ClaudeSessionReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(projects()); }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(home_, ec);
  }

  fs::path projects() const { return home_ / ".claude" / "projects"; }
  ClaudeCodeLocations locations() const { return ClaudeCodeLocations(home_, std::nullopt); }

  fs::path write(const fs::path& path, const std::string& contents, int secondsAgo = 0,
                 std::ios::openmode mode = std::ios::trunc) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | mode) << contents;
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::seconds(secondsAgo));
    return path;
  }

  fs::path home_ = fs::temp_directory_path() / ("tovami-claude-" + std::to_string(std::random_device{}()));
};

TEST_F(ClaudeSessionReaderTest, FindsTheProjectFolderUnderEachNamingRule) {
  // The two historical names, in order: "/" only, then also ".".
  write(projects() / "-Users-u-my-app" / "b.jsonl", userLine("dashes"));
  auto folderOf = [&](const char* path) {
    return claude_transcript::transcriptFiles(path, projects()).front().path.parent_path().filename();
  };
  EXPECT_EQ(folderOf("/Users/u/my.app"), "-Users-u-my-app");
  write(projects() / "-Users-u-my.app" / "a.jsonl", userLine("dot kept"), 100);
  EXPECT_EQ(folderOf("/Users/u/my.app"), "-Users-u-my.app");

  // Claude Code's own rule: every character outside A-Z, a-z, 0-9 becomes "-".
  write(projects() / "-home-u-my-app-v2--n-" / "s.jsonl", userLine("underscore and space"));
  ClaudeSessionReader reader(locations());
  EXPECT_EQ(reader.read("/home/u/my_app v2 (n)")->title, "underscore and space");

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

TEST_F(ClaudeSessionReaderTest, PicksTheNewestReadableRegularTranscript) {
  const fs::path folder = projects() / "-work-api";
  write(folder / "first.jsonl", userLine("first session"), 300);
  write(folder / "second.jsonl", userLine("second session"), 200);
  for (const char* name : {".hidden.jsonl", "notes.json", "backup.jsonl.bak"})
    write(folder / name, userLine("no"));
  fs::create_directories(folder / "dir.jsonl");  // newest entry, but not a file
  fs::create_symlink("/dev/null", folder / "device.jsonl");

  ClaudeSessionReader reader(locations());
  auto info = reader.read("/work/api");
  EXPECT_EQ(info.value().title, "second session");
  auto modified =
      std::chrono::file_clock::to_sys(fs::last_write_time(folder / "second.jsonl")).time_since_epoch();
  EXPECT_NEAR(info->updatedAt.value_or(0), std::chrono::duration<double>(modified).count(), 1e-6);

  // A newest transcript that cannot be opened does not hide a readable one before it. (A file
  // with no permissions stops all but root; the kernel's write-only files stop root too.)
  write(projects() / "-work-locked" / "old.jsonl", userLine("readable session"), 400 * 86400);
  const fs::path locked = write(projects() / "-work-locked" / "new.jsonl", userLine("locked"));
  fs::permissions(locked, fs::perms::none);
  if (std::ifstream(locked).is_open()) {
    fs::remove(locked);
    fs::create_symlink("/proc/sys/vm/drop_caches", locked);
  }
  if (std::ifstream(locked).is_open()) GTEST_SKIP() << "no file here that cannot be opened";
  EXPECT_EQ(reader.read("/work/locked")->title, "readable session");

  // A folder without transcripts, or a file where the folder should be, means no transcript.
  fs::remove_all(folder);
  fs::create_directories(folder);
  EXPECT_EQ(reader.read("/work/api"), std::nullopt);
  write(projects() / "-work-web", "a file, not a folder");
  EXPECT_EQ(reader.read("/work/web"), std::nullopt);
}

TEST_F(ClaudeSessionReaderTest, HonoursClaudeConfigDir) {
  write(home_ / "elsewhere" / "projects" / "-p" / "s.jsonl", userLine("from the custom root"));
  write(projects() / "-p" / "s.jsonl", userLine("from the default root"));
  auto env = [&](std::string_view name) -> std::optional<std::string> {
    if (name == "HOME") return home_.string();
    return name == claude_code::kConfigDirVariable ? std::optional((home_ / "elsewhere").string())
                                                   : std::nullopt;
  };
  EXPECT_EQ(ClaudeSessionReader(ClaudeCodeLocations::fromEnvironment(env)).read("/p")->title,
            "from the custom root");
  EXPECT_EQ(ClaudeSessionReader(ClaudeCodeLocations(home_, "")).read("/p")->title, "from the default root");
}

TEST_F(ClaudeSessionReaderTest, CachesByModificationTimeAndReadsOnlyWhatWasAppended) {
  const fs::path path =
      write(projects() / "-c" / "s.jsonl", userLine("question") + assistantLine("answer"), 90);
  ClaudeSessionReader reader(locations());
  const auto first = reader.read("/c").value();

  // Same modification time: the cached summary comes back, the new contents are not read.
  const auto modified = fs::last_write_time(path);
  std::ofstream(path, std::ios::trunc) << userLine("rewritten");
  fs::last_write_time(path, modified);
  EXPECT_EQ(reader.read("/c"), first);

  // Grown: the new lines count, fields they do not set and the title stay.
  write(path, userLine("question") + assistantLine("answer"), 60);
  write(path, assistantLine("new answer", "claude-foo-9"), 50, std::ios::app);
  auto grown = reader.read("/c");
  EXPECT_EQ(grown->replyLine, "new answer");
  EXPECT_EQ(grown->modelName, "Foo-9");
  EXPECT_EQ(grown->youLine, "question");
  EXPECT_EQ(grown->title, "question");
  EXPECT_GT(grown->updatedAt, first.updatedAt);

  // Replaced by other text, then shrunk: read afresh each time; fields the file no longer holds
  // keep their last values.
  write(path, userLine("other") + std::string(400, '\n'), 30);
  EXPECT_EQ(reader.read("/c")->youLine, "other");
  write(path, assistantLine("short"), 20);
  auto shrunk = reader.read("/c");
  EXPECT_EQ(shrunk->replyLine, "short");
  EXPECT_EQ(shrunk->youLine, "other");

  // A binary file with the extension keeps the earlier lines and only moves the time.
  std::string binary(100000, '\0');
  for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>((i * 131) ^ (i >> 3));
  write(path, binary, -5);
  EXPECT_EQ(reader.read("/c")->replyLine, "short");
  // A fresh reader has nothing to fill in from.
  EXPECT_EQ(ClaudeSessionReader(locations()).read("/c")->replyLine, std::nullopt);
}

TEST_F(ClaudeSessionReaderTest, ReadsTheEndOfATranscriptPastTwoGigabytes) {
  const fs::path path = write(projects() / "-big" / "s.jsonl", userLine("opening"));
  fs::resize_file(path, (std::uintmax_t{2} << 30) + 123);  // sparse: no disk space taken
  write(path, "\n" + userLine("latest"), 0, std::ios::app);
  const auto info = ClaudeSessionReader(locations()).read("/big");
  EXPECT_EQ(info.value().title, "opening");
  EXPECT_EQ(info->youLine, "latest");
}

}  // namespace
}  // namespace tovami
