#include "peers/hook_installer.h"

#include <algorithm>

#include "peers/claude_code_peer.h"
#include "platform/log.h"

namespace tovami {
namespace {

using settings_json::Json;
constexpr auto kCategory = log_categories::kHookInstall;
// Codex's hooks.json has the same shape as Claude Code's settings.
using namespace claude_code::settings_keys;
// Rounds against another program rewriting the same file before we give up.
constexpr int kAttempts = 5;

bool isOurHook(const Json& hook) {
  if (!hook.is_object()) return false;
  auto command = hook.find(kCommand);
  return command != hook.end() && command->is_string() &&
         command->get_ref<const std::string&>().find(kHookMarker) != std::string::npos;
}

// The groups without our hooks, order kept; a group that held only ours goes. Anything else a
// user may have written (a hook of theirs beside ours, an element of another shape) stays.
Json withoutOurs(const Json& groups) {
  Json kept = Json::array();
  for (const auto& group : groups) {
    auto hooks = group.is_object() ? group.find(kHooks) : group.end();
    if (!group.is_object() || hooks == group.end() || !hooks->is_array()) {
      kept.push_back(group);
      continue;
    }
    Json remaining = Json::array();
    for (const auto& hook : *hooks)
      if (!isOurHook(hook)) remaining.push_back(hook);
    if (remaining.size() == hooks->size()) {
      kept.push_back(group);
    } else if (!remaining.empty()) {
      Json changed = group;
      changed[kHooks] = std::move(remaining);
      kept.push_back(std::move(changed));
    }
  }
  return kept;
}

// An event name fit to quote to the user: short and plain.
std::string eventForText(const std::string& event) {
  bool plain = !event.empty() && event.size() <= 40;
  for (char c : event) plain = plain && c >= ' ' && c <= '~';
  return plain ? "\"" + event + "\"" : "one event";
}

// Why the agent itself would reject the file (it skips such a file whole), if it would. We then
// leave it as it is: replacing a wrong value would drop what the user put there.
std::optional<std::string> shapeProblem(const Json& document) {
  if (!document.is_object()) return "it does not hold a JSON object";
  auto hooks = document.find(kHooks);
  if (hooks == document.end()) return std::nullopt;
  if (!hooks->is_object()) return "its \"hooks\" is not an object";
  for (auto it = hooks->begin(); it != hooks->end(); ++it)
    if (!it.value().is_array()) return "in its \"hooks\", " + eventForText(it.key()) + " is not a list";
  return std::nullopt;
}

// The group that holds one entry of ours: exactly the shape the agents validate (one key more or a
// string timeout makes them skip the user's whole file).
Json groupFor(const HookEntry& entry) {
  Json hook = {{kType, kCommandType}, {kCommand, entry.command}, {kTimeout, entry.timeoutSeconds}};
  return Json{{kHooks, Json::array({std::move(hook)})}};
}

// Whether the groups that hold a hook of ours are, in order, exactly `wanted` (by value: a timeout
// read back as written, keys in any order). Then the event's list stays as it is, wherever in it
// ours stand.
bool oursAsWanted(const Json& groups, const std::vector<Json>& wanted) {
  std::size_t next = 0;
  for (const auto& group : groups) {
    auto hooks = group.is_object() ? group.find(kHooks) : group.end();
    if (hooks == group.end() || !hooks->is_array() || std::none_of(hooks->begin(), hooks->end(), isOurHook))
      continue;
    if (next == wanted.size() || !settings_json::sameValue(group, wanted[next])) return false;
    ++next;
  }
  return next == wanted.size();
}

// The document with our hooks removed everywhere, then `add`ed. Events that only held ours go,
// unless they are added again (in place, so an unchanged install changes nothing). An event whose
// hooks of ours are already as wanted is left exactly as it is.
Json edited(const Json& document, const std::vector<HookEntry>& add) {
  Json result = document;
  if (!result.contains(kHooks)) {
    if (add.empty()) return result;
    result[kHooks] = Json::object();
  }
  Json& hooks = result[kHooks];
  auto wantedFor = [&](const std::string& event) {
    std::vector<Json> wanted;
    for (const auto& entry : add)
      if (entry.event == event) wanted.push_back(groupFor(entry));
    return wanted;
  };
  std::vector<std::string> emptied, settled;
  for (auto it = hooks.begin(); it != hooks.end(); ++it) {
    const auto wanted = wantedFor(it.key());
    if (!wanted.empty() && oursAsWanted(it.value(), wanted)) {
      settled.push_back(it.key());
      continue;
    }
    Json kept = withoutOurs(it.value());
    if (kept == it.value()) continue;
    if (kept.empty() && wanted.empty()) emptied.push_back(it.key());
    it.value() = std::move(kept);
  }
  for (const auto& event : emptied) hooks.erase(event);
  for (const auto& entry : add)
    if (std::find(settled.begin(), settled.end(), entry.event) == settled.end())
      hooks[entry.event].push_back(groupFor(entry));
  if (!emptied.empty() && hooks.empty()) result.erase(kHooks);  // it held only ours
  return result;
}

HookEditResult failure(std::string reason, bool missingFolder = false) {
  return {false, std::move(reason), missingFolder};
}

std::string parentFolder(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

// One read-change-write round; nothing when another program changed the file meanwhile.
std::optional<HookEditResult> attempt(FileSystem& files, const std::string& path, const SettingsChange& change) {
  const auto contents = files.read(path);
  if (contents.status == FileContents::Status::failed) return failure("it cannot be read (" + contents.error + ")");
  Json document = Json::object();
  if (contents.status == FileContents::Status::ok) {
    std::string error;
    auto parsed = settings_json::parse(contents.bytes, error);
    if (!parsed) return failure(error);
    if (auto problem = shapeProblem(*parsed)) return failure(*problem);
    document = std::move(*parsed);
  } else if (!change.createsFile) {
    return HookEditResult{true, {}, false};
  } else if (!files.exists(parentFolder(path))) {
    return failure("its folder does not exist", true);
  }
  std::string problem;
  const auto result = change.apply(document, problem);
  if (!result) return failure(problem);
  // Already as wanted, compared by value (a number read back keeps its spelling, the one built is
  // an integer): the file stays exactly as the user wrote it, not even written again.
  if (contents.status == FileContents::Status::ok && settings_json::sameValue(*result, document))
    return HookEditResult{true, {}, false};
  std::string error;
  auto bytes = settings_json::dump(*result, error);
  if (!bytes) return failure(error);
  const std::string backup = settingsBackupPath(path);
  if (change.restoresBackup) {
    // Back to what the backup holds: its very bytes, so the user's own layout returns too.
    const auto saved = files.read(backup);
    std::string ignored;
    const auto savedDocument = saved.status == FileContents::Status::ok
                                   ? settings_json::parse(saved.bytes, ignored)
                                   : std::nullopt;
    if (savedDocument && settings_json::sameValue(*savedDocument, *result)) bytes = saved.bytes;
  }
  if (contents.status == FileContents::Status::ok && !files.exists(backup)) {
    if (auto copyError = files.copyNew(path, backup))
      logError(kCategory, "settings backup failed: " + *copyError);  // the change goes on
  }
  const auto outcome = files.replaceIfUnchanged(path, contents, *bytes);
  if (outcome.status == ReplaceOutcome::Status::changedMeanwhile) return std::nullopt;
  if (outcome.status == ReplaceOutcome::Status::failed)
    return failure("it cannot be written (" + outcome.error + ")");
  // Another writer may have replaced ours right after the rename: only what is on disk counts.
  const auto after = files.read(path);
  if (after.status != FileContents::Status::ok || after.bytes != *bytes) return std::nullopt;
  return HookEditResult{true, {}, false, true};
}

}  // namespace

std::string singleQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

std::string hookCommand(const std::string& entryPath, const std::string& hookName,
                        const std::string& socketPath) {
  auto absolute = [](const std::string& path) { return !path.empty() && path.front() == '/'; };
  if (!absolute(entryPath) || !absolute(socketPath)) return {};
  return singleQuoted(entryPath) + " --hook " + hookName + " --socket " + singleQuoted(socketPath) + " # " +
         kHookMarker;
}

HookEditResult editSettingsFile(FileSystem& files, const std::string& path, const SettingsChange& change) {
  if (path.empty()) return change.createsFile ? failure("there is no home folder", true) : HookEditResult{true};
  for (int round = 0; round < kAttempts; ++round)
    if (auto result = attempt(files, path, change)) return *result;
  return failure("another program kept changing it");
}

HookInstaller::HookInstaller(std::shared_ptr<FileSystem> files, HookFile file)
    : files_(std::move(files)), file_(std::move(file)) {}

HookEditResult HookInstaller::edit(bool installing) const {
  SettingsChange change;
  change.createsFile = installing;
  change.apply = [this, installing](const Json& document, std::string&) -> std::optional<Json> {
    return edited(document, installing ? file_.entries : std::vector<HookEntry>{});
  };
  return editSettingsFile(*files_, file_.path, change);
}

HookEditResult HookInstaller::install() const {
  for (const auto& entry : file_.entries)
    if (entry.command.empty()) {
      logError(kCategory,
               "hook install failed: the path of the tovami program or of its socket is not known");
      return failure("the path of the tovami program or of its approval socket is not known");
    }
  const auto result = edit(true);
  if (result.ok)
    logInfo(kCategory, file_.agentName + (result.changed ? " hook installed in " : " hook already in ") + file_.path);
  else if (!file_.path.empty())
    logError(kCategory,
             file_.agentName + " hook install failed, " + file_.path + " left untouched: " + result.reason);
  return result;
}

HookEditResult HookInstaller::remove() const {
  const auto result = edit(false);
  if (!result.ok)
    logError(kCategory,
             file_.agentName + " hook removal failed, " + file_.path + " left untouched: " + result.reason);
  return result;
}

}  // namespace tovami
