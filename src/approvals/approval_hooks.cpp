#include "approvals/approval_hooks.h"

#include "approvals/hook_client.h"
#include "platform/log.h"

namespace tovami {
namespace {

std::string spelledFromHome(const std::string& path, std::string home) {
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  if (home.size() > 1 && path.size() > home.size() && path.compare(0, home.size(), home) == 0 &&
      path[home.size()] == '/')
    return "~" + path.substr(home.size());
  return path;
}

}  // namespace

namespace approval_hooks {

HookFile claudeCode(const std::string& settingsPath, const std::string& home, const std::string& entryPath,
                    const std::string& socketPath) {
  return {settingsPath,
          spelledFromHome(settingsPath, home),
          claude_code::kAgentName,
          {{claude_code::settings_keys::kNotificationEvent,
            hookCommand(entryPath, "notification", socketPath), kClaudeNotificationTimeout},
           {"PermissionRequest", hookCommand(entryPath, "permission-request", socketPath),
            kClaudePermissionTimeout}}};
}

HookFile codex(const std::string& hooksPath, const std::string& home, const std::string& entryPath,
               const std::string& socketPath) {
  return {hooksPath,
          spelledFromHome(hooksPath, home),
          "Codex",
          {{"PermissionRequest", hookCommand(entryPath, "codex-permission-request", socketPath),
            kCodexPermissionTimeout}}};
}

std::string codexHooksPath(const claude_code::EnvironmentLookup& environment) {
  if (auto root = environment(kCodexHomeVariable); root && !root->empty()) return *root + "/hooks.json";
  if (auto home = environment("HOME"); home && !home->empty()) return *home + "/.codex/hooks.json";
  return {};
}

}  // namespace approval_hooks

namespace approval_hook_texts {

std::string couldNotUpdate(const HookFile& file, const std::string& reason) {
  return "Couldn't update " + file.displayPath + ": " + reason + ". Nothing was changed.";
}

std::string couldNotRemove(const HookFile& file, const std::string& reason) {
  if (file.entries.empty())
    return "Couldn't restore " + file.displayPath + ": " + reason +
           ". Turn this on and off again, or edit the file by hand.";
  return "Couldn't take Tovami's hook out of " + file.displayPath + ": " + reason + ". Tovami no longer answers " +
         file.agentName + "'s requests; turn this on and off again, or remove the entry by hand.";
}

std::string noAgentFolder(const HookFile& file) {
  return "Couldn't find " + file.agentName + "'s folder \u2014 start " + file.agentName +
         " once, then turn this on again.";
}

}  // namespace approval_hook_texts

ApprovalHookService::ApprovalHookService(HookInstaller installer, TaskQueue& mainQueue,
                                         std::shared_ptr<TaskQueue> fileQueue,
                                         std::function<bool()> serverListening)
    : ApprovalHookService(std::make_shared<const HookInstaller>(std::move(installer)), mainQueue, std::move(fileQueue),
                          std::move(serverListening)) {}

ApprovalHookService::ApprovalHookService(std::shared_ptr<const SettingsEditor> installer, TaskQueue& mainQueue,
                                         std::shared_ptr<TaskQueue> fileQueue,
                                         std::function<bool()> serverListening)
    : installer_(std::move(installer)),
      mainQueue_(mainQueue),
      fileQueue_(std::move(fileQueue)),
      serverListening_(std::move(serverListening)) {}

std::optional<std::string> ApprovalHookService::textFor(const HookEditResult& result) const {
  if (result.ok) return std::nullopt;
  if (result.missingFolder) return approval_hook_texts::noAgentFolder(installer_->file());
  return approval_hook_texts::couldNotUpdate(installer_->file(), result.reason);
}

bool ApprovalHookService::install() {
  ++*generation_;
  if (!serverListening_()) {
    logError(log_categories::kHookInstall,
             installer_->file().agentName + " hook not installed: the approval server does not listen");
    installer_->remove();  // an entry of an earlier run would lead nowhere
    failureText_ = approval_hook_texts::kNotListening;
    return false;
  }
  failureText_ = textFor(installer_->install());
  if (!failureText_) scheduleRecheck(generation_->load());
  return !failureText_;
}

bool ApprovalHookService::remove() {
  ++*generation_;
  const auto result = installer_->remove();
  failureText_.reset();
  if (!result.ok) failureText_ = approval_hook_texts::couldNotRemove(installer_->file(), result.reason);
  return result.ok;
}

void ApprovalHookService::installInBackground() {
  const uint64_t generation = ++*generation_;
  const bool listening = serverListening_();
  if (!listening) {
    logError(log_categories::kHookInstall,
             installer_->file().agentName + " hook not installed: the approval server does not listen");
    failureText_ = approval_hook_texts::kNotListening;
  }
  if (!fileQueue_) return;
  std::weak_ptr<ApprovalHookService> weak = weak_from_this();
  fileQueue_->async([weak, generation, listening, counter = generation_] {
    auto self = weak.lock();
    if (!self || counter->load() != generation) return;
    if (!listening) {
      self->installer_->remove();
      return;
    }
    auto text = self->textFor(self->installer_->install());
    self->mainQueue_.async([weak, generation, text = std::move(text)] {
      auto service = weak.lock();
      if (!service || service->generation_->load() != generation) return;
      service->failureText_ = text;
      if (!text) service->scheduleRecheck(generation);
    });
  });
}

void ApprovalHookService::scheduleRecheck(uint64_t generation) {
  if (!fileQueue_) return;
  std::weak_ptr<ApprovalHookService> weak = weak_from_this();
  fileQueue_->asyncAfter(approval_hooks::kRecheckDelay, [weak, generation, counter = generation_] {
    auto self = weak.lock();
    if (!self || counter->load() != generation) return;
    // Unchanged (compared by value) is not written and says nothing: only a file that really lost
    // or altered our entry meanwhile is written again, and that is worth a line.
    const auto result = self->installer_->install();
    if (result.ok && result.changed)
      logError(log_categories::kHookInstall,
               self->installer_->file().agentName +
                   " hook was undone by another program right after it was installed; "
                   "installed again");
  });
}

void ApprovalHookService::shutDown() {
  ++*generation_;
  fileQueue_.reset();  // the queue's end waits for the task under way
}

}  // namespace tovami
