#include "integrations/hook_installer.h"

#include "platform/log.h"

namespace tovami {
namespace {

constexpr auto kCategory = log_categories::kHookInstall;
namespace keys = claude_code::settings_keys;
constexpr const char* kPreToolUse = "PreToolUse";

// Text inside a double-quoted shell word.
std::string shellQuoted(std::string_view text) {
  std::string quoted;
  for (char c : text) {
    if (c == '"' || c == '\\' || c == '$' || c == '`') quoted.push_back('\\');
    quoted.push_back(c);
  }
  return quoted;
}

bool isOurGroup(const nlohmann::json& group) {
  if (!group.is_object()) return false;
  auto hooks = group.find(keys::kHooks);
  if (hooks == group.end() || !hooks->is_array()) return false;
  for (const auto& hook : *hooks) {
    if (!hook.is_object()) continue;
    auto command = hook.find(keys::kCommand);
    if (command != hook.end() && command->is_string() &&
        command->get_ref<const std::string&>().find(kHookMarker) != std::string::npos)
      return true;
  }
  return false;
}

// Removes our groups from hooks[event] when it is a list; the key goes when the list empties.
void removeFrom(nlohmann::json& hooks, const char* event) {
  auto it = hooks.find(event);
  if (it == hooks.end() || !it->is_array()) return;
  auto kept = removeOurEntries(*it);
  if (kept.empty())
    hooks.erase(event);
  else
    *it = std::move(kept);
}

}  // namespace

std::string hookCommand(const std::string& socketPath, const std::string& home) {
  std::string homeFolder = home;
  while (homeFolder.size() > 1 && homeFolder.back() == '/') homeFolder.pop_back();
  std::string spelled;
  if (homeFolder.size() > 1 && socketPath.size() > homeFolder.size() &&
      socketPath.compare(0, homeFolder.size(), homeFolder) == 0 && socketPath[homeFolder.size()] == '/')
    spelled = "$HOME" + shellQuoted(socketPath.substr(homeFolder.size()));
  else
    spelled = shellQuoted(socketPath);
  return "S=\"" + spelled + "\"; [ -S \"$S\" ] && exec " + kNetcatPath +
         " -U \"$S\" -w 50 2>/dev/null; exit 0 # " + kHookMarker;
}

nlohmann::json removeOurEntries(const nlohmann::json& groups) {
  auto kept = nlohmann::json::array();
  if (!groups.is_array()) return kept;
  for (const auto& group : groups)
    if (!isOurGroup(group)) kept.push_back(group);
  return kept;
}

HookInstaller::HookInstaller(std::shared_ptr<FileSystem> files, std::string settingsPath,
                             std::string socketPath, std::string home, std::string netcatPath)
    : files_(std::move(files)),
      settingsPath_(std::move(settingsPath)),
      socketPath_(std::move(socketPath)),
      home_(std::move(home)),
      netcatPath_(std::move(netcatPath)) {}

std::optional<nlohmann::json> HookInstaller::readSettings(std::string& error) {
  if (settingsPath_.empty()) {
    error = "no home folder, so no Claude Code settings file";
    return std::nullopt;
  }
  auto contents = files_->read(settingsPath_);
  if (contents.status == FileContents::Status::missing) return nlohmann::json::object();
  if (contents.status == FileContents::Status::failed) {
    error = "cannot read " + settingsPath_ + ": " + contents.error;
    return std::nullopt;
  }
  auto settings = nlohmann::json::parse(contents.bytes, nullptr, /*allow_exceptions=*/false);
  if (settings.is_discarded()) {
    error = settingsPath_ + " is not valid JSON";
    return std::nullopt;
  }
  if (!settings.is_object()) {
    // Claude Code would not read it either; replacing it would lose what the user wrote.
    error = settingsPath_ + " does not hold a JSON object";
    return std::nullopt;
  }
  return settings;
}

std::optional<std::string> HookInstaller::write(const nlohmann::json& settings) {
  // Keys come out sorted (the object type is ordered); text that is not UTF-8 cannot occur, as
  // every string was parsed from JSON, but is replaced rather than thrown on.
  const std::string bytes = settings.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  return files_->replaceContents(settingsPath_, bytes);
}

bool HookInstaller::install() {
  failureText_.reset();
  auto fail = [this](const std::string& why, const std::string& text) {
    logError(kCategory, "hook install failed: " + why);
    failureText_ = text;
    return false;
  };
  if (!files_->isExecutable(netcatPath_)) return fail(netcatPath_ + " is missing", hook_texts::kNoNetcat);
  std::string error;
  auto settings = readSettings(error);
  if (!settings) return fail(error, hook_texts::kNotValidJson);
  if (!files_->exists(backupPath()) && files_->exists(settingsPath_)) {
    if (auto copyError = files_->copyNew(settingsPath_, backupPath()))
      logError(kCategory, "hook backup failed: " + *copyError);  // installation goes on
  }
  auto hooks = settings->contains(keys::kHooks) && (*settings)[keys::kHooks].is_object()
                   ? (*settings)[keys::kHooks]
                   : nlohmann::json::object();
  removeFrom(hooks, kPreToolUse);
  auto notification = hooks.contains(keys::kNotificationEvent) && hooks[keys::kNotificationEvent].is_array()
                          ? removeOurEntries(hooks[keys::kNotificationEvent])
                          : nlohmann::json::array();
  // Exactly the shape Claude Code validates: one more key or a string timeout would make it skip
  // the user's whole settings file.
  nlohmann::json hook = {
      {keys::kType, keys::kCommandType}, {keys::kCommand, command()}, {keys::kTimeout, kHookTimeoutSeconds}};
  notification.push_back({{keys::kHooks, nlohmann::json::array({hook})}});
  hooks[keys::kNotificationEvent] = std::move(notification);
  (*settings)[keys::kHooks] = std::move(hooks);
  if (auto writeError = write(*settings)) {
    const auto slash = settingsPath_.rfind('/');
    const bool noFolder =
        slash != std::string::npos && slash > 0 && !files_->exists(settingsPath_.substr(0, slash));
    return fail(*writeError, noFolder ? hook_texts::kNoClaudeFolder : hook_texts::kNotValidJson);
  }
  logInfo(kCategory, "hook installed in " + settingsPath_);
  return true;
}

bool HookInstaller::remove() {
  std::string error;
  auto settings = readSettings(error);
  if (!settings) {
    logError(kCategory, "hook uninstall failed: " + error);
    return false;
  }
  auto hooksIt = settings->find(keys::kHooks);
  if (hooksIt == settings->end() || !hooksIt->is_object()) return true;
  const auto before = *hooksIt;
  removeFrom(*hooksIt, kPreToolUse);
  removeFrom(*hooksIt, keys::kNotificationEvent);
  if (*hooksIt == before) return true;  // nothing of ours: the user's file is left exactly as it is
  if (hooksIt->empty()) settings->erase(hooksIt);
  if (auto writeError = write(*settings)) {
    logError(kCategory, "hook uninstall failed: " + *writeError);
    return false;
  }
  logInfo(kCategory, "hook removed from " + settingsPath_);
  return true;
}

}  // namespace tovami
