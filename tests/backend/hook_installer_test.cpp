// The hook installer over real files.
#include "integrations/hook_installer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "linux/integrations/posix_file_system.h"

namespace tovami {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

class HookInstallerTest : public ::testing::Test {
 protected:
  fs::path home = fs::temp_directory_path() / ("tovami-hook-" + std::to_string(::getpid()));
  fs::path settings = home / ".claude" / "settings.json";
  std::string socket = (home / ".local/share/Tovami/agent.sock").string();
  std::shared_ptr<FileSystem> files = std::make_shared<linux_backend::PosixFileSystem>();
  HookInstaller installer{files, settings.string(), socket, home.string(), "/bin/sh"};

  void SetUp() override {
    fs::remove_all(home);
    fs::create_directories(settings.parent_path());
  }
  void TearDown() override { fs::remove_all(home); }

  void write(const std::string& text) { std::ofstream(settings) << text; }
  std::string read(const fs::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  json parsed() { return json::parse(read(settings)); }
};

TEST_F(HookInstallerTest, CommandSpellsTheSocketForTheShell) {
  EXPECT_EQ(hookCommand("/home/u/.local/share/Tovami/agent.sock", "/home/u/"),
            "S=\"$HOME/.local/share/Tovami/agent.sock\"; [ -S \"$S\" ] && exec /usr/bin/nc -U \"$S\" -w 50 "
            "2>/dev/null; exit 0 # tovami-notch-approvals");
  EXPECT_EQ(hookCommand("/data/a \"$b`\\/agent.sock", "/home/u").substr(0, 26),
            "S=\"/data/a \\\"\\$b\\`\\\\/agent");
  EXPECT_EQ(hookCommand("/home/user2/x.sock", "/home/u").substr(0, 23), "S=\"/home/user2/x.sock\";");
}

TEST_F(HookInstallerTest, InstallKeepsEverythingElseAndAddsOneGroup) {
  const json foreign = {{"hooks", json::array({{{"type", "command"}, {"command", "notify-send hi"}}})}};
  const json mixed = {
      {"matcher", ""},
      {"hooks", json::array({{{"type", "command"}, {"command", "x"}},
                             {{"type", "command"}, {"command", "old # tovami-notch-approvals"}}})}};
  const json user = {{"model", "opus"},
                     {"permissions", {{"allow", json::array({"Bash(ls)"})}}},
                     {"ratio", 1.5},
                     {"hooks",
                      {{"Notification", json::array({foreign, mixed, 7})},
                       {"PreToolUse", json::array({mixed})},
                       {"Stop", json::array({foreign})}}}};
  const json ours = {
      {"hooks", json::array({{{"type", "command"}, {"command", installer.command()}, {"timeout", 10}}})}};
  json expected = user;
  expected["hooks"]["Notification"] = json::array({foreign, 7, ours});
  expected["hooks"].erase("PreToolUse");
  const std::pair<std::optional<std::string>, json> cases[] = {
      // before (absent: no file), after
      {std::nullopt, {{"hooks", {{"Notification", json::array({ours})}}}}},
      {"{}", {{"hooks", {{"Notification", json::array({ours})}}}}},
      {R"({"hooks": "junk", "a": null})",
       {{"a", nullptr}, {"hooks", {{"Notification", json::array({ours})}}}}},
      {user.dump(), expected},
  };
  for (const auto& [before, after] : cases) {
    fs::remove(settings);
    fs::remove(installer.backupPath());
    if (before) write(*before);
    ASSERT_TRUE(installer.install());
    const auto backup = installer.backupPath();
    EXPECT_EQ(fs::exists(backup) ? read(backup) : "(none)",
              before.value_or("(none)"));  // taken before any change
    ASSERT_TRUE(installer.install());      // idempotent
    EXPECT_EQ(parsed(), after) << before.value_or("(none)");
  }
  const std::string text = read(settings);
  EXPECT_LT(text.find("\"model\""), text.find("\"permissions\""));  // sorted and pretty-printed
  EXPECT_NE(text.find("\n  \"ratio\": 1.5"), std::string::npos);
}

TEST_F(HookInstallerTest, UnusableFilesFailAndWriteNothing) {
  const std::string cases[] = {"", "{\"a\":", "[1, 2]", "\"text\""};
  for (const auto& before : cases) {
    write(before);
    EXPECT_FALSE(installer.install() || installer.remove()) << before;
    EXPECT_EQ(installer.failureText(), hook_texts::kNotValidJson);
    EXPECT_TRUE(read(settings) == before && !fs::exists(installer.backupPath()));
  }
  fs::remove(settings);
  fs::create_directory(settings);  // unreadable as a file: not the same as missing
  EXPECT_FALSE(installer.install());
  fs::remove(settings);
  HookInstaller noNetcat{files, settings.string(), socket, home.string(), (home / "no-nc").string()};
  EXPECT_FALSE(noNetcat.install());
  EXPECT_TRUE(noNetcat.failureText() == hook_texts::kNoNetcat && !fs::exists(settings));
  fs::remove_all(settings.parent_path());  // Claude Code never ran: nothing to add a hook to
  EXPECT_FALSE(installer.install());
  EXPECT_EQ(installer.failureText(), hook_texts::kNoClaudeFolder);
}

TEST_F(HookInstallerTest, BackupIsTakenOnceAndUninstallLeavesTheRest) {
  write(R"({"model": "opus"})");
  ASSERT_TRUE(installer.install());
  write(R"({"model": "sonnet"})");
  ASSERT_TRUE(installer.install());
  EXPECT_EQ(read(installer.backupPath()), R"({"model": "opus"})");
  ASSERT_TRUE(installer.remove());
  EXPECT_EQ(parsed(), (json{{"model", "sonnet"}}));
  const std::string untouched = R"({"hooks": {"Stop": []},   "model": "x"})";
  write(untouched);
  EXPECT_TRUE(installer.remove() && read(settings) == untouched);  // nothing of ours: not even reformatted
  fs::remove(settings);
  EXPECT_TRUE(installer.remove() && !fs::exists(settings));
}

TEST_F(HookInstallerTest, LinksSurviveAndPermissionsStay) {
  const fs::path target = home / "dotfiles" / "claude-settings.json";
  fs::create_directories(target.parent_path());
  fs::create_symlink("../dotfiles/claude-settings.json", settings);
  write(R"({"model": "opus"})");  // through the link
  fs::permissions(target, fs::perms(0640));
  ASSERT_TRUE(installer.install());
  EXPECT_TRUE(fs::is_symlink(settings) && parsed()["model"] == "opus" && parsed().contains("hooks"));
  EXPECT_EQ(fs::status(target).permissions(), fs::perms(0640));
  EXPECT_EQ(std::distance(fs::directory_iterator(target.parent_path()), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace tovami
