#include "agents/claude_session_status.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <sys/stat.h>

namespace tovami {
namespace {

namespace fs = std::filesystem;
using State = ClaudeSessionStatus::State;

std::string fixture(const std::string& name) {
  std::ifstream in(std::string(TOVAMI_TEST_FIXTURES) + "/claude-code/sessions/" + name);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(ClaudeSessionStatusTest, RecordedFilesGiveTheirStates) {
  struct Row { const char* file; State state; bool waitingForPermission; };
  for (const Row& row : {Row{"busy.json", State::busy, false}, Row{"idle.json", State::idle, false},
                         Row{"waiting-permission.json", State::waiting, true}}) {
    SCOPED_TRACE(row.file);
    const auto status = parseClaudeSessionStatus(fixture(row.file), 12296, 73595);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->sessionId, "6cacb2e6-9983-4fc3-b7a7-3f2ce977802e");
    EXPECT_EQ(status->name, std::nullopt);  // derived from the folder: no name of its own
    EXPECT_EQ(status->cwd, "/home/user/srv/A_b.c d@e+f~g-h \u00e9");
    EXPECT_EQ(status->state, row.state);
    EXPECT_EQ(status->waitingForPermission(), row.waitingForPermission);
  }
  EXPECT_DOUBLE_EQ(*parseClaudeSessionStatus(fixture("busy.json"), 12296, std::nullopt)->updatedAt, 1796542759.067);
  std::string named = fixture("busy.json");
  named.replace(named.find("\"derived\""), 9, "\"user\"");
  EXPECT_EQ(parseClaudeSessionStatus(named, 12296, std::nullopt)->name, "a-b-c-d-e-f-g-h-bb");
}

TEST(ClaudeSessionStatusTest, ForeignOrDamagedFilesAreNotAvailable) {
  const std::string waiting = fixture("waiting-permission.json");
  EXPECT_FALSE(parseClaudeSessionStatus(waiting, 12297, 73595)) << "another pid";
  EXPECT_FALSE(parseClaudeSessionStatus(waiting, 12296, 99)) << "a reused pid";
  for (const char* text : {"", "{", "[]", "null", R"({"pid":5})", R"({"pid":5,"sessionId":""})",
                           R"({"pid":5,"sessionId":"s","procStart":"12x"})", R"({"pid":"5","sessionId":"s"})"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(parseClaudeSessionStatus(text, 5, 12));
  }
  // Older versions write no status: the session is known, its state is not.
  const auto bare = parseClaudeSessionStatus(R"({"sessionId":"s","status":"pondering"})", 5, std::nullopt);
  EXPECT_EQ(bare.value().state, State::unknown);
}

TEST(ClaudeSessionStatusTest, ReaderFollowsRewritesAndNeverOpensAFifo) {
  const fs::path root = fs::temp_directory_path() / ("status-reader-" + std::to_string(::getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "sessions");
  ClaudeSessionStatusReader reader(claude_code::ClaudeCodeLocations("/nonexistent", root.string()));
  auto write = [&](const std::string& text) {
    std::ofstream(root / "sessions" / "12296.json", std::ios::trunc) << text;
  };

  EXPECT_FALSE(reader.read(12296, 73595)) << "no file";
  write(fixture("waiting-permission.json"));
  EXPECT_EQ(reader.read(12296, 73595)->state, State::waiting);
  write(fixture("idle.json") + " ");  // a different size, so the change shows even within one tick
  EXPECT_EQ(reader.read(12296, 73595)->state, State::idle);
  write("{\"pid\":12296,");  // caught halfway through a rewrite
  EXPECT_FALSE(reader.read(12296, 73595));

  fs::remove(root / "sessions" / "12296.json");
  ASSERT_EQ(::mkfifo((root / "sessions" / "12296.json").c_str(), 0600), 0);
  EXPECT_FALSE(reader.read(12296, 73595)) << "a FIFO is never opened (this would hang)";
  fs::remove_all(root);
}

}  // namespace
}  // namespace tovami
