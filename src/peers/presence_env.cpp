#include "peers/presence_env.h"

#include "platform/log.h"

namespace tovami {
namespace {

using settings_json::Json;
constexpr const char* kEnv = "env";
constexpr const char* kVariable = "CLAUDE_CLIENT_PRESENCE_FILE";
constexpr std::string_view kOurName = "/tovami-claude-presence";
constexpr auto kCategory = log_categories::kHookInstall;

bool isOurs(const Json& value) {
  return value.is_string() && value.get_ref<const std::string&>().ends_with(kOurName);
}

// The env block, or nothing with `problem` when Claude Code would reject it.
const Json* envOf(const Json& document, std::string& problem) {
  if (!document.is_object()) {
    problem = "it does not hold a JSON object";
    return nullptr;
  }
  auto env = document.find(kEnv);
  if (env == document.end()) return &document;  // no block: the document stands for "none"
  if (!env->is_object()) {
    problem = "its \"env\" is not an object";
    return nullptr;
  }
  return &*env;
}

}  // namespace

PresenceEnvInstaller::PresenceEnvInstaller(std::shared_ptr<FileSystem> files, HookFile file,
                                           std::string presencePath)
    : files_(std::move(files)), file_(std::move(file)), presencePath_(std::move(presencePath)) {}

HookEditResult PresenceEnvInstaller::install() const {
  if (presencePath_.empty() || presencePath_.front() != '/' || !presencePath_.ends_with(kOurName))
    return {false, "Tovami's runtime folder is not known"};
  SettingsChange change;
  change.createsFile = true;
  change.apply = [this](const Json& document, std::string& problem) -> std::optional<Json> {
    const Json* env = envOf(document, problem);
    if (!env) return std::nullopt;
    if (env != &document) {
      auto value = env->find(kVariable);
      if (value != env->end() && !isOurs(*value)) {
        problem = std::string("its \"env\" already sets ") + kVariable + " for you";
        return std::nullopt;
      }
    }
    Json result = document;
    result[kEnv][kVariable] = presencePath_;
    return result;
  };
  const auto result = editSettingsFile(*files_, file_.path, change);
  if (result.ok && result.changed) logInfo(kCategory, std::string(kVariable) + " set in " + file_.path);
  if (!result.ok && !file_.path.empty())
    logError(kCategory, std::string(kVariable) + " not set, " + file_.path + " left untouched: " + result.reason);
  return result;
}

HookEditResult PresenceEnvInstaller::remove() const {
  SettingsChange change;
  change.restoresBackup = true;
  change.apply = [](const Json& document, std::string& problem) -> std::optional<Json> {
    const Json* env = envOf(document, problem);
    if (!env) return std::nullopt;
    if (env == &document) return document;
    auto value = env->find(kVariable);
    if (value == env->end() || !isOurs(*value)) return document;
    Json result = document;
    result[kEnv].erase(kVariable);
    if (result[kEnv].empty()) result.erase(kEnv);
    return result;
  };
  const auto result = editSettingsFile(*files_, file_.path, change);
  if (result.ok && result.changed) logInfo(kCategory, std::string(kVariable) + " taken out of " + file_.path);
  if (!result.ok)
    logError(kCategory, std::string(kVariable) + " not taken out, " + file_.path + " left untouched: " + result.reason);
  return result;
}

}  // namespace tovami
