// The switch-side hook service: a hook goes in only while the server listens, launch's file work
// runs on the background queue, and the Codex file is found where Codex looks.
#include "approvals/approval_hooks.h"
#include "approvals/hook_client.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <vector>

#include "memory_files.h"
#include "platform/log.h"
#include "support/virtual_dispatcher.h"

namespace tovami {
namespace {

using testing::MemoryFiles;

// What the environment names, by variable.
auto env(std::map<std::string, std::string> values) {
  return [values](std::string_view name) -> std::optional<std::string> {
    auto it = values.find(std::string(name));
    return it == values.end() ? std::nullopt : std::optional(it->second);
  };
}

class ApprovalHookServiceTest : public ::testing::Test {
 protected:
  const std::string path = "/home/u/.claude/settings.json";
  const std::string socket = "/home/u/.local/share/Tovami/agent.sock";
  testing::VirtualDispatcher dispatcher;
  std::shared_ptr<MemoryFiles> files = std::make_shared<MemoryFiles>();
  bool listening = false;
  std::shared_ptr<ApprovalHookService> service = std::make_shared<ApprovalHookService>(
      HookInstaller(files, approval_hooks::claudeCode(path, "/home/u", "/usr/bin/tovami", socket)),
      dispatcher.mainQueue(), dispatcher.makeSerialQueue("hooks"), [this] { return listening; });

  bool installed() const {
    auto it = files->files.find(path);
    return it != files->files.end() && it->second.find(kHookMarker) != std::string::npos;
  }
};

TEST_F(ApprovalHookServiceTest, TheHookGoesInOnlyWhileTheServerListensStaysInAndGoesWhenItDoesNot) {
  EXPECT_FALSE(service->install());
  EXPECT_EQ(service->failureText(), approval_hook_texts::kNotListening);
  EXPECT_FALSE(files->files.count(path));
  listening = true;
  EXPECT_TRUE(service->install() && installed());
  EXPECT_FALSE(service->failureText());
  files->files[path] = "{\"other\": 1}";  // an agent's own write that began before ours ends after it
  dispatcher.advance(approval_hooks::kRecheckDelay);
  EXPECT_TRUE(installed() && files->files[path].find("\"other\": 1") != std::string::npos);
  listening = false;  // a later launch whose server cannot listen: the entry would lead nowhere
  service->installInBackground();
  EXPECT_EQ(service->failureText(), approval_hook_texts::kNotListening);
  dispatcher.runUntilIdle();
  EXPECT_FALSE(installed());
}

TEST_F(ApprovalHookServiceTest, LaunchInstallsOnTheFileQueueAndASwitchMadeMeanwhileWins) {
  listening = true;
  files->files[path] = "{\"hooks\": []}";
  service->installInBackground();
  EXPECT_EQ(files->reads, 0);  // nothing on the main thread
  dispatcher.runUntilIdle();
  EXPECT_TRUE(service->failureText());  // the file's fault, said
  files->files[path] = "{}";
  service->installInBackground();
  EXPECT_TRUE(service->remove());  // the user turned it off before the launch's work ran
  dispatcher.runUntilIdle();
  EXPECT_FALSE(installed());
  EXPECT_FALSE(service->failureText());
}

// Log lines of the hook installer, kept for the test.
struct RecordedLog final : LogSink {
  std::mutex mutex;
  std::vector<std::string> lines;
  void write(LogLevel, std::string_view category, std::string_view message) override {
    std::lock_guard lock(mutex);
    if (category == log_categories::kHookInstall) lines.emplace_back(message);
  }
  size_t count(std::string_view part) {
    std::lock_guard lock(mutex);
    size_t found = 0;
    for (const auto& line : lines) found += line.find(part) != std::string::npos;
    return found;
  }
};

// A file already as wanted is not written again (a numbers' spelling read back is the same value
// as the integers built), and the look 2 s after an install raises the alarm only for a file that
// really lost the entry.
TEST_F(ApprovalHookServiceTest, AnUnchangedFileIsNotWrittenAndOnlyALostEntryIsCalledUndone) {
  auto log = std::make_shared<RecordedLog>();
  setLogSink(log);
  const std::shared_ptr<void> restore(nullptr, [](void*) { setLogSink(nullptr); });
  listening = true;
  files->files[path] = "{\"model\": \"opus\", \"n\": 1.50}";
  service->installInBackground();  // a launch
  dispatcher.advance(approval_hooks::kRecheckDelay + 1);
  EXPECT_TRUE(installed());
  EXPECT_EQ(files->writes, 1);
  const std::string written = files->files[path];
  for (int launch = 0; launch < 2; ++launch) {  // later launches, and a user's switch
    service->installInBackground();
    dispatcher.advance(approval_hooks::kRecheckDelay + 1);
    EXPECT_TRUE(service->install());
    dispatcher.advance(approval_hooks::kRecheckDelay + 1);
  }
  EXPECT_EQ(files->writes, 1);
  EXPECT_EQ(files->files[path], written);
  EXPECT_EQ(log->count("undone"), 0u);
  // The user's own spelling of the same value (300 as 300.0): left alone.
  std::string reformatted = written;
  for (const std::string number : {"\"timeout\": 300", "\"timeout\": 10"})
    reformatted.insert(reformatted.find(number) + number.size(), ".0");
  ASSERT_NE(reformatted, written);
  files->files[path] = reformatted;
  EXPECT_TRUE(service->install());
  dispatcher.advance(approval_hooks::kRecheckDelay + 1);
  EXPECT_EQ(files->writes, 1);
  EXPECT_EQ(log->count("undone"), 0u);
  // An agent's old text put back right after the install: added again, and said.
  EXPECT_TRUE(service->install());
  files->files[path] = "{\"model\": \"opus\"}";
  dispatcher.advance(approval_hooks::kRecheckDelay + 1);
  EXPECT_TRUE(installed());
  EXPECT_EQ(files->writes, 2);
  EXPECT_EQ(log->count("undone"), 1u);
}

TEST(HookCommandTest, TheCommandNamesTheSocketQuotedAndAMovedSocketIsRewrittenOnce) {
  EXPECT_EQ(hookCommand("/opt/it's/tovami", "notification", "/data/it's $HOME/Tovami/agent.sock"),
            "'/opt/it'\\''s/tovami' --hook notification --socket '/data/it'\\''s $HOME/Tovami/agent.sock' "
            "# tovami-notch-approvals");
  for (const char* socket : {"", "Tovami/agent.sock"})  // only an absolute path is named
    EXPECT_EQ(hookCommand("/usr/bin/tovami", "notification", socket), "") << socket;
  const std::string path = "/home/u/.claude/settings.json", codexPath = "/home/u/.codex/hooks.json";
  auto files = std::make_shared<MemoryFiles>();
  files->files[codexPath] = "{}";
  auto installers = [&](const std::string& socket) {
    return std::vector<HookInstaller>{
        HookInstaller(files, approval_hooks::claudeCode(path, "/home/u", "/usr/bin/tovami", socket)),
        HookInstaller(files, approval_hooks::codex(codexPath, "/home/u", "/usr/bin/tovami", socket))};
  };
  for (auto& installer : installers("/home/u/.local/share/Tovami/agent.sock")) installer.install();
  ASSERT_EQ(files->writes, 2);  // installing twice is the backend test's, on real files
  // Tovami's own data folder moved: every command is written once with the new path, then left.
  for (auto& installer : installers("/srv/data/Tovami/agent.sock")) {
    const auto first = installer.install();
    EXPECT_TRUE(first.ok && first.changed) << installer.file().path;
    EXPECT_FALSE(installer.install().changed) << installer.file().path;
    const auto& text = files->files[installer.file().path];
    EXPECT_NE(text.find("--socket '/srv/data/Tovami/agent.sock' # tovami-notch-approvals"),
              std::string::npos);
    EXPECT_EQ(text.find(".local/share"), std::string::npos) << text;
  }
  EXPECT_EQ(files->writes, 4);
}

TEST(HookCommandTest, TheClientAsksTheGivenSocketElseTheOneItsEnvironmentNames) {
  const auto agent = env({{"HOME", "/home/u"}, {"XDG_DATA_HOME", "/home/u/elsewhere"}});
  std::string refusal;
  EXPECT_EQ(hookSocketPath(std::string("/home/u/.local/share/Tovami/agent.sock"), agent, refusal),
            "/home/u/.local/share/Tovami/agent.sock");
  EXPECT_EQ(refusal, "");
  EXPECT_EQ(hookSocketPath(std::nullopt, agent, refusal),
            "/home/u/elsewhere/Tovami/agent.sock");  // older entries
  EXPECT_EQ(hookSocketPath(std::nullopt, env({}), refusal), "");
  EXPECT_EQ(refusal, "");
  for (const char* relative : {"", "Tovami/agent.sock", "./agent.sock", "~/.local/share/Tovami/agent.sock"}) {
    refusal.clear();
    EXPECT_EQ(hookSocketPath(std::string(relative), agent, refusal), "") << relative;
    EXPECT_EQ(refusal, "the approval socket path \"" + std::string(relative) + "\" is not absolute");
  }
  refusal.clear();
  hookSocketPath(std::string("a\x1b[2Jb"), agent, refusal);
  EXPECT_EQ(refusal, "the approval socket path \"a?[2Jb\" is not absolute");
}

TEST(CodexHooksTest, TheFileFollowsCodexHome) {
  for (const char* codexHome : {"", "/srv/codex"})  // an empty CODEX_HOME is not set
    EXPECT_EQ(approval_hooks::codexHooksPath(env({{"HOME", "/home/u"}, {"CODEX_HOME", codexHome}})),
              *codexHome ? "/srv/codex/hooks.json" : "/home/u/.codex/hooks.json");
  EXPECT_EQ(approval_hooks::codexHooksPath(env({})), "");
}

}  // namespace
}  // namespace tovami
