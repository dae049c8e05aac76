// The approval hooks each agent gets, and the switch-side service that installs them: only while
// the approval server listens (an entry that leads nowhere would drop every request silently),
// with launch's file work on a background queue, and the reason of a failure kept for the
// settings window.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/app_services.h"
#include "peers/claude_code_peer.h"
#include "peers/hook_installer.h"
#include "platform/scheduler.h"

namespace tovami {

namespace approval_hooks {
// Claude Code: the Notification entry serves versions without PermissionRequest. The permission
// entries' timeouts are the hook client's (hook_client.h), which waits a little less.
inline constexpr int kClaudeNotificationTimeout = 10;

inline constexpr const char* kCodexHomeVariable = "CODEX_HOME";
// An agent's own read-modify-write that began before ours puts back its old text after our check:
// one more look this long after an install adds the hook again.
inline constexpr Seconds kRecheckDelay = 2.0;

// `home` spells the path for the user ("~/.claude/settings.json"). `socketPath` is the approval
// server's own socket: the commands name it, so the client finds it whatever the agent's
// environment says (an XDG_DATA_HOME set only in the user's shell start-up file).
HookFile claudeCode(const std::string& settingsPath, const std::string& home, const std::string& entryPath,
                    const std::string& socketPath);
HookFile codex(const std::string& hooksPath, const std::string& home, const std::string& entryPath,
               const std::string& socketPath);
// $CODEX_HOME/hooks.json, else ~/.codex/hooks.json; empty with neither.
std::string codexHooksPath(const claude_code::EnvironmentLookup& environment);
}  // namespace approval_hooks

namespace approval_hook_texts {
std::string couldNotUpdate(const HookFile& file, const std::string& reason);
std::string couldNotRemove(const HookFile& file, const std::string& reason);
std::string noAgentFolder(const HookFile& file);
inline const std::string kNotListening =
    "Tovami couldn't open its approval socket (see the log), so no hook was added.";
}  // namespace approval_hook_texts

class ApprovalHookService final : public HookInstallControl,
                                  public std::enable_shared_from_this<ApprovalHookService> {
 public:
  // `fileQueue` is this service's own (shutDown() ends it).
  ApprovalHookService(HookInstaller installer, TaskQueue& mainQueue, std::shared_ptr<TaskQueue> fileQueue,
                      std::function<bool()> serverListening);
  // Any other entry of ours in an agent's file (the status line, the environment block).
  ApprovalHookService(std::shared_ptr<const SettingsEditor> installer, TaskQueue& mainQueue,
                      std::shared_ptr<TaskQueue> fileQueue, std::function<bool()> serverListening);

  // Main thread, in the caller's time (a user's switch).
  bool install() override;
  bool remove() override;
  // Main thread: the file work runs on the file queue; the outcome reaches failureText() later.
  void installInBackground() override;
  std::optional<std::string> failureText() const override { return failureText_; }
  // Main thread, at the program's end: waits for file work under way; nothing runs after it.
  void shutDown();

 private:
  std::optional<std::string> textFor(const HookEditResult& result) const;
  // File queue: installs again after kRecheckDelay unless a later request came.
  void scheduleRecheck(uint64_t generation);

  std::shared_ptr<const SettingsEditor> installer_;
  TaskQueue& mainQueue_;
  std::shared_ptr<TaskQueue> fileQueue_;
  std::function<bool()> serverListening_;
  std::optional<std::string> failureText_;
  // Bumped by every request: background work asked before a later switch is dropped.
  std::shared_ptr<std::atomic<uint64_t>> generation_ = std::make_shared<std::atomic<uint64_t>>(0);
};

}  // namespace tovami
