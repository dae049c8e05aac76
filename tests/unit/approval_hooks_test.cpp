// The switch-side hook service: a hook goes in only while the server listens, launch's file work
// runs on the background queue, and the Codex file is found where Codex looks.
#include "integrations/approval_hooks.h"

#include <gtest/gtest.h>

#include <map>

#include "support/virtual_dispatcher.h"

namespace tovami {
namespace {

// Files in memory; the folder "/home/u/.claude" exists.
struct MemoryFiles final : FileSystem {
  std::map<std::string, std::string> files;
  int reads = 0;
  FileContents read(const std::string& path) override {
    ++reads;
    auto it = files.find(path);
    if (it == files.end()) return {FileContents::Status::missing, {}, "absent"};
    return {FileContents::Status::ok, it->second, {}};
  }
  bool exists(const std::string& path) override { return files.count(path) || path == "/home/u/.claude"; }
  bool isExecutable(const std::string&) override { return false; }
  std::optional<std::string> copyNew(const std::string& from, const std::string& to) override {
    files[to] = files[from];
    return std::nullopt;
  }
  std::optional<std::string> replaceContents(const std::string& path, const std::string& bytes) override {
    files[path] = bytes;
    return std::nullopt;
  }
  ReplaceOutcome replaceIfUnchanged(const std::string& path, const FileContents&,
                                    const std::string& bytes) override {
    files[path] = bytes;
    return {ReplaceOutcome::Status::replaced, {}};
  }
};

class ApprovalHookServiceTest : public ::testing::Test {
 protected:
  const std::string path = "/home/u/.claude/settings.json";
  testing::VirtualDispatcher dispatcher;
  std::shared_ptr<MemoryFiles> files = std::make_shared<MemoryFiles>();
  bool listening = false;
  std::shared_ptr<ApprovalHookService> service = std::make_shared<ApprovalHookService>(
      HookInstaller(files, approval_hooks::claudeCode(path, "/home/u", "/usr/bin/tovami")),
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

TEST(CodexHooksTest, TheFileFollowsCodexHome) {
  auto env = [](std::map<std::string, std::string> values) {
    return [values](std::string_view name) -> std::optional<std::string> {
      auto it = values.find(std::string(name));
      return it == values.end() ? std::nullopt : std::optional<std::string>(it->second);
    };
  };
  for (const char* codexHome : {"", "/srv/codex"})  // an empty CODEX_HOME is not set
    EXPECT_EQ(approval_hooks::codexHooksPath(env({{"HOME", "/home/u"}, {"CODEX_HOME", codexHome}})),
              *codexHome ? "/srv/codex/hooks.json" : "/home/u/.codex/hooks.json");
  EXPECT_EQ(approval_hooks::codexHooksPath(env({})), "");
}

}  // namespace
}  // namespace tovami
