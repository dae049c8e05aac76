#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>

#include "agents/agent_session.h"
#include "approvals/hook_client.h"
#include "memory_files.h"
#include "nap/phone_presence.h"
#include "peers/presence_env.h"
#include "peers/status_line_installer.h"

namespace tovami {
namespace {

using nlohmann::json;
using testing::MemoryFiles;

const std::string kPath = "/h/.claude/settings.json";

std::string fixture(const char* name) {
  std::ifstream in(std::string(TOVAMI_TEST_FIXTURES) + "/claude-code/status-line/" + name);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(StatusLineInstallerTest, InstallWrapsTheUsersCommandAndRemoveRestoresTheFileByteForByte) {
  // The settings file (none: no file), the user's command inside ours.
  const std::pair<std::optional<std::string>, std::optional<std::string>> cases[] = {
      {std::nullopt, std::nullopt},
      {"{\n    \"model\": \"opus\",\n    \"n\": 1.50\n}\n", std::nullopt},
      {R"({"statusLine": {"type": "command", "command": "~/bin/line.sh", "refreshInterval": 5, "padding": 0}})",
       "~/bin/line.sh"},
      {R"({"statusLine":{"type":"command","command":"printf '%s' \"it's\" # mine"},"hooks":{}})",
       R"(printf '%s' "it's" # mine)"},
  };
  for (const auto& [file, wrapped] : cases) {
    auto files = std::make_shared<MemoryFiles>("/h/.claude");
    if (file) files->files[kPath] = *file;
    StatusLineInstaller installer(files, {kPath, "~/.claude/settings.json", "Claude Code", {}}, "/usr/bin/tovami",
                                  "/run/t/agent.sock");
    ASSERT_TRUE(installer.install().ok) << file.value_or("none");
    const json entry = json::parse(files->files[kPath])["statusLine"];
    const std::string command = entry["command"];
    bool readable = false;
    EXPECT_EQ(status_line_command::wrapped(command, readable), wrapped) << command;
    EXPECT_TRUE(readable);
    EXPECT_EQ(entry.value("refreshInterval", 5), 5);  // the user's other keys stay
    const int writes = files->writes;
    EXPECT_FALSE(installer.install().changed);  // already as wanted: not written again
    // A moved entry is rebuilt around the same command.
    StatusLineInstaller moved(files, installer.file(), "/opt/tovami", "/run/t/agent.sock");
    EXPECT_TRUE(moved.install().changed);
    EXPECT_EQ(files->writes, writes + 1);
    ASSERT_TRUE(moved.remove().ok);
    EXPECT_EQ(file ? files->files[kPath] == *file : json::parse(files->files[kPath]) == json::object(), true);
  }
  // Files Claude Code would reject, or entries Tovami cannot wrap, stay untouched with the reason.
  for (const char* text : {"{\"statusLine\": \"x\"}", "{\"statusLine\": {\"type\": \"static\"}}", "{ nope",
                           "{\"hooks\": []}"}) {
    auto files = std::make_shared<MemoryFiles>("/h/.claude");
    files->files[kPath] = text;
    const auto result = StatusLineInstaller(files, {kPath, "", "", {}}, "/usr/bin/tovami", "/s").install();
    EXPECT_TRUE(!result.ok && !result.reason.empty() && files->writes == 0 && files->files[kPath] == text) << text;
  }
}

TEST(StatusLineFeedTest, TheWrapperForwardsOnlyWellFormedInputAndTheServerShowsOnlyValuesInRange) {
  const std::string pro = fixture("pro-with-rate-limits.json");
  const auto envelope = statusLineEnvelope(pro, {41, 40});
  ASSERT_TRUE(envelope);
  const json sent = json::parse(*envelope);
  EXPECT_FALSE(sent["payload"].contains("transcript_path"));  // only the keys the feed reads
  const Seconds now = 1796672400 - 3600;
  const auto envelopeRead = readEnvelope(sent);
  ASSERT_TRUE(envelopeRead && envelopeRead->event == HookEvent::statusLine);
  const auto feed = statusLineFeedFrom(*envelopeRead->payload, envelopeRead->pids, now);
  EXPECT_EQ(feed.model, "Opus 4.6");
  EXPECT_EQ(feed.branch, "feature-albums");
  EXPECT_EQ(feed.pids, (std::vector<int32_t>{41, 40}));
  EXPECT_EQ(feed.fiveHour, (RateWindow{37.5, 1796672400}));
  EXPECT_EQ(sessionDetailsLine(sessionDetailsFrom(feed)), "Opus 4.6 \u00b7 43 % context \u00b7 $1.20 \u00b7 feature-albums");
  // Claude Code 2.1.197's own input (its plan windows from the API's headers).
  const json real = json::parse(*statusLineEnvelope(fixture("recorded-2.1.197-subscription.json"), {}));
  const auto recorded = statusLineFeedFrom(real["payload"], nullptr, 1796690332 - 3600);
  EXPECT_EQ(std::tuple(recorded.model, recorded.contextPercent, recorded.fiveHour, recorded.sevenDay.has_value()),
            std::tuple(std::optional<std::string>("Sonnet 5"), std::optional<double>(0), RateWindow{37.5, 1796690332},
                       true));
  // Hostile input: refused by the wrapper (the user's command still gets it).
  for (const std::string& bad : {std::string("{\"a\":\"\xff\xfe\"}"), std::string(100, '[') + std::string(100, ']'),
                                 std::string("[1]"), std::string("{"), std::string(kStatusLineInputLimit + 1, ' ')})
    EXPECT_FALSE(statusLineEnvelope(bad, {})) << bad.substr(0, 20);
  // Values out of range are not shown as current.
  const json odd = {{"context_window", {{"used_percentage", 140}}},
                    {"cost", {{"total_cost_usd", -1}}},
                    {"pr", {{"number", 1e300}}},
                    {"rate_limits",
                     {{"five_hour", {{"used_percentage", 101}, {"resets_at", now + 60}}},
                      {"seven_day", {{"used_percentage", 20}, {"resets_at", now - 1}}}}}};
  const auto dropped = statusLineFeedFrom(odd, nullptr, now);
  EXPECT_TRUE(!dropped.contextPercent && !dropped.costUsd && !dropped.pullRequest && !dropped.fiveHour &&
              !dropped.sevenDay);
}

TEST(StatusLineSessionsTest, AFeedChangesOnlyTheRowOfItsOwnSession) {
  auto row = [](int32_t pid, std::optional<std::string> id) { return AgentSession{.pid = pid, .sessionId = id}; };
  StatusLineSessions feeds;
  feeds.add({.sessionId = "a", .pids = {900, 10}, .model = "A"});  // by id
  feeds.add({.sessionId = "x", .pids = {901, 20}, .model = "X"});  // its process holds session b: not b's row
  feeds.add({.pids = {902, 30}, .model = "C"});                    // no id: by the process it runs under
  feeds.add({.sessionId = "d", .pids = {903, 40}, .model = "D\x1b[31m"});  // by the process; text cleaned
  std::vector<AgentSession> rows = {row(10, "a"), row(20, "b"), row(30, "c"), row(40, std::nullopt), row(50, "a2")};
  auto listed = rows;
  feeds.bind(rows);
  const std::vector<std::optional<std::string>> models = {"A", std::nullopt, "C", "D [31m", std::nullopt};
  for (size_t i = 0; i < rows.size(); ++i)
    EXPECT_EQ(rows[i].details ? rows[i].details->model : std::nullopt, models[i]) << i;
  // "--list-agents" reads the desktop's file back to the same bindings.
  StatusLineSessions::parsed(feeds.serialized(), 0).bind(listed);
  EXPECT_EQ(listed, rows);
}

TEST(PhonePresenceTest, TheFileExistsOnlyWhileOnAndTheUserIsAtTheDesk) {
  struct Marker : PresenceMarker {
    std::vector<bool> calls;
    void setPresent(bool present) override { calls.push_back(present); }
  };
  auto marker = std::make_shared<Marker>();
  auto presence = std::make_shared<PhonePresence>(marker);
  PresenceNapLink link(nullptr, presence);
  presence->setEnabled(true);   // at the desk: present
  link.setNapping(true, {});    // nap: gone
  presence->setLocked(true);    // still away
  link.setNapping(false, {});   // locked: still away
  presence->setLocked(false);   // back: present
  presence->setEnabled(false);  // off: gone
  presence->setLocked(true);
  EXPECT_EQ(marker->calls, (std::vector<bool>{true, false, true, false}));
}

TEST(PresenceEnvTest, TheVariableGoesInAndOutAndAUsersOwnValueIsLeftAlone) {
  const std::string ours = "/run/user/1/tovami/tovami-claude-presence";
  const std::pair<std::optional<std::string>, bool> cases[] = {
      {std::nullopt, true},
      {"{\n  \"env\": {\n    \"FOO\": \"1\"\n  }\n}\n", true},
      {R"({"env":{"CLAUDE_CLIENT_PRESENCE_FILE":"/old/tovami-claude-presence"}})", true},
      {R"({"env":{"CLAUDE_CLIENT_PRESENCE_FILE":"/home/u/here"}})", false},
      {R"({"env":[]})", false}};
  for (const auto& [file, accepted] : cases) {
    auto files = std::make_shared<MemoryFiles>("/h/.claude");
    if (file) files->files[kPath] = *file;
    PresenceEnvInstaller installer(files, {kPath, "", "", {}}, ours);
    EXPECT_EQ(installer.install().ok, accepted) << file.value_or("none");
    if (!accepted) {
      EXPECT_EQ(files->files[kPath], *file);
      continue;
    }
    EXPECT_EQ(json::parse(files->files[kPath])["env"]["CLAUDE_CLIENT_PRESENCE_FILE"], ours);
    ASSERT_TRUE(installer.remove().ok);
    EXPECT_EQ(files->files[kPath].find("CLAUDE_CLIENT_PRESENCE_FILE"), std::string::npos) << files->files[kPath];
    if (file && file->find("FOO") != std::string::npos) {
      EXPECT_EQ(files->files[kPath], *file);
    }
  }
}

}  // namespace
}  // namespace tovami
