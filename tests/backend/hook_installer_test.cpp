// The hook installer over real files: what it writes, what it refuses, and what it never loses.
#include "peers/hook_installer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <tuple>

#include "approvals/approval_hooks.h"
#include "linux/integrations/posix_file_system.h"

namespace tovami {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

std::string readFile(const fs::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class HookInstallerTest : public ::testing::Test {
 protected:
  fs::path home = fs::temp_directory_path() / ("tovami-hook-" + std::to_string(::getpid()));
  fs::path settings = home / ".claude" / "settings.json";
  std::string entry = (home / "opt/it's here/tovami").string();
  std::string socket = (home / ".local/share/Tovami/agent.sock").string();
  std::shared_ptr<FileSystem> files = std::make_shared<linux_backend::PosixFileSystem>();
  HookInstaller claude(const std::string& at) {
    return {files, approval_hooks::claudeCode(settings.string(), home.string(), at, socket)};
  }
  HookInstaller installer = claude(entry);

  void SetUp() override { fs::remove_all(home), fs::create_directories(settings.parent_path()); }
  void TearDown() override { fs::remove_all(home); }

  void write(const std::string& text) { std::ofstream(settings) << text; }
  json parsed() { return json::parse(readFile(settings)); }
  json ourGroup(const std::string& hook, int timeout) {
    return {{"hooks", json::array({{{"type", "command"}, {"command", hookCommand(entry, hook, socket)},
                                    {"timeout", timeout}}})}};
  }
};

TEST_F(HookInstallerTest, InstallKeepsEverythingElseAndReplacesOldEntries) {
  const json foreign = {{"hooks", json::array({{{"type", "command"}, {"command", "notify-send hi"}}})}};
  const json netcat = {{"type", "command"}, {"timeout", 10},
                       {"command", "S=\"$HOME/.local/share/Tovami/agent.sock\"; [ -S \"$S\" ] && exec /usr/bin/nc "
                                   "-U \"$S\" -w 50 2>/dev/null; exit 0 # tovami-notch-approvals"}};
  const json userHook = {{"type", "command"}, {"command", "x"}};
  const json mixed = {{"matcher", ""}, {"hooks", json::array({userHook, netcat})}};
  const json user = {{"model", "opus"}, {"permissions", {{"allow", json::array({"Bash(ls)"})}}},
                     {"hooks", {{"Notification", json::array({foreign, mixed, 7})},
                                {"PreToolUse", json::array({{{"hooks", json::array({netcat})}}})},
                                {"Stop", json::array({foreign})}}}};
  const json notification = ourGroup("notification", 10), permission = ourGroup("permission-request", 300);
  json expected = user;
  expected["hooks"]["Notification"] =
      json::array({foreign, {{"matcher", ""}, {"hooks", json::array({userHook})}}, 7, notification});
  expected["hooks"].erase("PreToolUse");  // held only our old entry
  expected["hooks"]["PermissionRequest"] = json::array({permission});
  const json onlyOurs = {{"hooks", {{"Notification", json::array({notification})},
                                     {"PermissionRequest", json::array({permission})}}}};
  const std::pair<std::optional<std::string>, json> cases[] = {  // before (absent: no file), after
      {std::nullopt, onlyOurs}, {"{}", onlyOurs}, {user.dump(), expected}};
  for (const auto& [before, after] : cases) {
    fs::remove(settings), fs::remove(installer.backupPath());
    if (before) write(*before);
    ASSERT_TRUE(installer.install().ok);
    EXPECT_EQ(fs::exists(installer.backupPath()) ? readFile(installer.backupPath()) : "(none)",
              before.value_or("(none)"));  // taken before any change
    const std::string first = readFile(settings);
    ASSERT_TRUE(installer.install().ok);
    EXPECT_EQ(readFile(settings), first);  // idempotent
    EXPECT_EQ(parsed(), after) << before.value_or("(none)");
  }
}

// Files the agent would reject or that must not be read: refused byte for byte untouched, no backup, reason said.
TEST_F(HookInstallerTest, HostileFilesAreRefusedUntouchedWithTheReason) {
  const std::string huge = "{\"x\": \"" + std::string(3u << 20, 'a') + "\"}";
  const std::pair<std::string, std::string> cases[] = {
      {"", "not valid JSON"}, {"{\"n\": [1e, -, 1.]}", "not valid JSON"}, {"[1, 2]", "does not hold a JSON object"},
      {"{\"n\": 01}", "not valid JSON"},  // numbers out of the grammar, whatever their range
      {"{\"hooks\": [{\"hooks\": []}]}", "its \"hooks\" is not an object"}, {huge, "larger than 2 MiB"},
      {"{\"hooks\": {\"Notification\": {\"hooks\": []}}}", "\"Notification\" is not a list"},
      {std::string(50000, '[') + std::string(50000, ']'), "nested deeper than 64 levels"}};
  for (const auto& [before, reason] : cases) {
    write(before);
    const auto result = installer.install();
    EXPECT_TRUE(!result.ok && result.reason.find(reason) != std::string::npos) << result.reason;
    EXPECT_FALSE(installer.remove().ok);
    EXPECT_TRUE(readFile(settings) == before && !fs::exists(installer.backupPath())) << reason;
  }
  // Not a regular file: a FIFO (no writer ever comes) and a folder; refused at once.
  fs::remove(settings);
  ASSERT_EQ(::mkfifo(settings.c_str(), 0600), 0);
  EXPECT_FALSE(installer.install().ok || installer.remove().ok);  // an open would hang the test
  EXPECT_EQ(files->read(settings.string()).error, "not a regular file");
  EXPECT_TRUE(fs::is_fifo(settings));
  fs::remove(settings), fs::create_directory(settings);
  EXPECT_FALSE(installer.install().ok);
  fs::remove(settings);
  // No entry path known (only an absolute one is named), and no folder of the agent's: nothing is created.
  EXPECT_FALSE(claude("").install().ok || fs::exists(settings));
  EXPECT_EQ(hookCommand("build/tovami", "notification", socket), "");
  fs::remove_all(settings.parent_path());
  const auto result = installer.install();
  EXPECT_TRUE(!result.ok && result.missingFolder && !fs::exists(settings));
}

// Every value Tovami does not own comes back as written, in its order, through install and removal.
TEST_F(HookInstallerTest, NumbersOtherValuesLinksAndPermissionsSurviveExactly) {
  const std::string before =
      "{\"big\":123456789012345678901234567890,\"f\":1.50,\"e\":1E+2,\"neg\":-0,\"tiny\":1e-7,"
      "\"max\":18446744073709551616,\"huge\":1e400,\"mhuge\":-2.5E+400,\"s\":\"\\u00e9\\ud83d\\ude00\",\"z\":"
      "{\"b\":1,\"a\":[0.10,2]},\"hooks\":{\"Stop\":[{\"hooks\":[{\"type\":\"command\",\"command\":\"x\","
      "\"timeout\":1.0}]}]},\"a\":true}";
  write(before);
  ASSERT_TRUE(installer.install().ok);
  const std::string installed = readFile(settings);
  for (const char* kept : {"\"big\": 123456789012345678901234567890", "\"f\": 1.50", "\"e\": 1E+2", "\"neg\": -0",
                           "\"tiny\": 1e-7", "\"max\": 18446744073709551616", "0.10", "\"huge\": 1e400",
                           "\"mhuge\": -2.5E+400", "\"timeout\": 1.0", "\"s\": \"\xc3\xa9\xf0\x9f\x98\x80\""})
    EXPECT_NE(installed.find(kept), std::string::npos) << kept;
  EXPECT_LT(installed.find("\"big\""), installed.find("\"a\": true"));  // the user's key order
  ASSERT_TRUE(installer.remove().ok);
  std::string error;
  EXPECT_EQ(settings_json::parse(readFile(settings), error), settings_json::parse(before, error));
  const std::string pretty = "{\n  \"huge\": [\n    1e400,\n    -1E+999\n  ]\n}\n";  // beyond a double, still JSON
  EXPECT_EQ(settings_json::dump(*settings_json::parse(pretty, error), error), pretty);
  const std::string untouched = "{\"hooks\": {},   \"model\": \"x\"}";
  write(untouched);
  EXPECT_TRUE(installer.remove().ok && readFile(settings) == untouched);  // nothing of ours: not even reformatted
  // A link is followed and stays a link; the target keeps its permissions and nothing is left beside it.
  fs::remove(settings);
  const fs::path target = home / "dotfiles" / "claude-settings.json";
  fs::create_directories(target.parent_path());
  fs::create_symlink("../dotfiles/claude-settings.json", settings);
  write(R"({"model": "opus"})");  // through the link
  fs::permissions(target, fs::perms(0640));
  ASSERT_TRUE(installer.install().ok);
  EXPECT_TRUE(fs::is_symlink(settings) && parsed()["model"] == "opus" && parsed().contains("hooks"));
  EXPECT_EQ(fs::status(target).permissions(), fs::perms(0640));
  EXPECT_EQ(std::distance(fs::directory_iterator(target.parent_path()), fs::directory_iterator()), 1);
}

// A concurrent writer (before or right after our rename) keeps its change; only what is on disk counts.
TEST_F(HookInstallerTest, AConcurrentWriterKeepsItsChangeAndOnlyWhatIsOnDiskCounts) {
  using S = const std::string&;
  struct Interposed final : FileSystem {
    explicit Interposed(std::shared_ptr<FileSystem> files) : real(std::move(files)) {}
    std::shared_ptr<FileSystem> real;
    std::function<void(int round)> before, after;
    int rounds = 0;
    FileContents read(S p) override { return real->read(p); }
    bool exists(S p) override { return real->exists(p); }
    bool isExecutable(S p) override { return real->isExecutable(p); }
    std::optional<std::string> copyNew(S f, S t) override { return real->copyNew(f, t); }
    std::optional<std::string> replaceContents(S p, S b) override { return real->replaceContents(p, b); }
    ReplaceOutcome replaceIfUnchanged(S p, const FileContents& e, S b) override {
      const int round = rounds++;
      if (before) before(round);
      auto outcome = real->replaceIfUnchanged(p, e, b);
      if (after) after(round);
      return outcome;
    }
  };
  auto other = [this](int round) { write("{\"other\": " + std::to_string(round) + "}"); };
  for (const bool when : {false, true}) {  // before or after the rename
    write("{\"mine\": 1}");
    auto fake = std::make_shared<Interposed>(files);
    (when ? fake->after : fake->before) = [&](int r) { return r < 2 ? other(r) : void(); };
    ASSERT_TRUE(HookInstaller(fake, installer.file()).install().ok) << when;
    EXPECT_EQ(parsed()["other"], 1) << when;
    EXPECT_EQ(parsed()["hooks"]["PermissionRequest"].size(), 1u) << when;
  }
  auto fake = std::make_shared<Interposed>(files);
  fake->before = other;  // never lets go
  write("{}");
  EXPECT_FALSE(HookInstaller(fake, installer.file()).install().ok);
  EXPECT_EQ(parsed(), (json{{"other", 4}}));
}

// What identifies a file's version on disk: a rewrite with the same bytes still changes these.
std::tuple<ino_t, time_t, long> identity(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return {info.st_ino, info.st_mtim.tv_sec, info.st_mtim.tv_nsec};
}

// Files holding Tovami's entries are not rewritten (agents reload on each write) by a second install (a launch
// and the look 2 s after it are installs too: ApprovalHookServiceTest); numbers in the user's spelling are the
// same values. Codex's file gets one PermissionRequest entry after the user's, gone again without a trace.
TEST_F(HookInstallerTest, InstallTwiceLeavesBothFilesUntouched) {
  const fs::path codexFile = home / ".codex" / "hooks.json";
  auto installers = [&] {
    return std::vector<HookInstaller>{
        claude(entry), HookInstaller(files, approval_hooks::codex(codexFile.string(), home.string(), entry, socket))};
  };
  fs::create_directories(codexFile.parent_path());
  write(R"({"model": "opus", "cleanupPeriodDays": 30.0, "env": {"N": "1"}})");
  const std::string userCodexHooks =
      R"({"hooks": {"SessionStart": [{"matcher": "startup", "hooks": [{"type": "command", "command": "a", )"
      R"("statusMessage": "Loading"}]}], "PermissionRequest": [{"matcher": "Bash", "hooks": )"
      R"([{"type": "command", "command": "python3 check.py", "timeout": 5}]}]}, "n": 100000000000000000000001})";
  std::ofstream(codexFile) << userCodexHooks;
  for (auto& first : installers()) ASSERT_TRUE(first.install().changed) << first.file().path;
  json expected = json::parse(userCodexHooks);
  expected["hooks"]["PermissionRequest"].push_back(ourGroup("codex-permission-request", 35));
  EXPECT_EQ(json::parse(readFile(codexFile)), expected);
  const auto settingsBefore = identity(settings), codexBefore = identity(codexFile);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // a rewrite would get a later mtime
  for (auto& again : installers()) {
    const auto result = again.install();
    EXPECT_TRUE(result.ok && !result.changed) << again.file().path;
  }
  EXPECT_EQ(identity(settings), settingsBefore);
  EXPECT_EQ(identity(codexFile), codexBefore);
  // The user adds a hook after ours (as an agent's hooks screen does): ours stays put, the file unwritten.
  json edited = parsed();
  edited["hooks"]["PermissionRequest"].push_back(
      {{"matcher", "Bash"}, {"hooks", json::array({{{"type", "command"}, {"command", "audit"}}})}});
  write(edited.dump(2));
  const auto userEdit = identity(settings);
  EXPECT_FALSE(installers()[0].install().changed);
  EXPECT_EQ(identity(settings), userEdit);
  EXPECT_EQ(parsed(), edited);
  ASSERT_TRUE(installers()[1].remove().ok);
  std::string error;
  EXPECT_EQ(settings_json::parse(readFile(codexFile), error), settings_json::parse(userCodexHooks, error));
}

}  // namespace
}  // namespace tovami
