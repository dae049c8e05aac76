#include "peers/status_line_installer.h"

#include "peers/claude_code_peer.h"
#include "platform/log.h"

namespace tovami {
namespace {

using settings_json::Json;
using namespace claude_code::settings_keys;
constexpr const char* kStatusLine = "statusLine";
constexpr std::string_view kWrapSwitch = " --wrap '";
constexpr auto kCategory = log_categories::kHookInstall;

std::string tail() {
  return std::string(" # ") + kStatusLineMarker;
}

// The entry's command when the entry is one Claude Code runs; nothing, with `problem`, otherwise.
const std::string* commandOf(const Json& entry, std::string& problem) {
  const auto type = entry.is_object() ? entry.find(kType) : entry.end();
  const auto command = entry.is_object() ? entry.find(kCommand) : entry.end();
  if (!entry.is_object() || type == entry.end() || *type != kCommandType || command == entry.end() ||
      !command->is_string()) {
    problem = "its \"statusLine\" is not a command entry";
    return nullptr;
  }
  return &command->get_ref<const std::string&>();
}

}  // namespace

namespace status_line_command {

std::string build(const std::string& entryPath, const std::string& socketPath,
                  const std::optional<std::string>& wrapped) {
  auto absolute = [](const std::string& path) { return !path.empty() && path.front() == '/'; };
  if (!absolute(entryPath) || !absolute(socketPath)) return {};
  std::string command = singleQuoted(entryPath) + " --hook status-line --socket " + singleQuoted(socketPath);
  if (wrapped) command += " --wrap " + singleQuoted(*wrapped);
  return command + tail();
}

bool isOurs(const std::string& command) {
  return command.size() >= tail().size() && command.compare(command.size() - tail().size(), std::string::npos,
                                                            tail()) == 0;
}

std::optional<std::string> wrapped(const std::string& command, bool& readable) {
  readable = isOurs(command);
  if (!readable) return std::nullopt;
  const auto at = command.find(kWrapSwitch);
  if (at == std::string::npos) return std::nullopt;
  // singleQuoted()'s text: quoted runs joined by \' for each quote inside.
  std::string text;
  std::size_t i = at + kWrapSwitch.size();
  while (true) {
    const auto close = command.find('\'', i);
    if (close == std::string::npos) break;
    text.append(command, i, close - i);
    if (command.compare(close, 4, "'\\''") == 0) {
      text += '\'';
      i = close + 4;
      continue;
    }
    if (command.size() - (close + 1) == tail().size()) return text;
    break;
  }
  readable = false;
  return std::nullopt;
}

}  // namespace status_line_command

StatusLineInstaller::StatusLineInstaller(std::shared_ptr<FileSystem> files, HookFile file, std::string entryPath,
                                         std::string socketPath)
    : files_(std::move(files)),
      file_(std::move(file)),
      entryPath_(std::move(entryPath)),
      socketPath_(std::move(socketPath)) {}

HookEditResult StatusLineInstaller::install() const {
  if (status_line_command::build(entryPath_, socketPath_, std::nullopt).empty()) {
    logError(kCategory, "status line not installed: the path of the tovami program or of its socket is not known");
    return {false, "the path of the tovami program or of its socket is not known"};
  }
  SettingsChange change;
  change.createsFile = true;
  change.apply = [this](const Json& document, std::string& problem) -> std::optional<Json> {
    if (!document.is_object()) {
      problem = "it does not hold a JSON object";
      return std::nullopt;
    }
    Json result = document;
    auto entry = result.find(kStatusLine);
    if (entry == result.end()) {
      result[kStatusLine] = {{kType, kCommandType},
                             {kCommand, status_line_command::build(entryPath_, socketPath_, std::nullopt)}};
      return result;
    }
    const std::string* command = commandOf(*entry, problem);
    if (!command) return std::nullopt;
    std::optional<std::string> users = *command;
    if (status_line_command::isOurs(*command)) {
      bool readable = false;
      users = status_line_command::wrapped(*command, readable);
      if (!readable) {
        problem = "its \"statusLine\" holds a command of Tovami's that it cannot read back";
        return std::nullopt;
      }
    }
    (*entry)[kCommand] = status_line_command::build(entryPath_, socketPath_, users);
    return result;
  };
  const auto result = editSettingsFile(*files_, file_.path, change);
  if (result.ok && result.changed) logInfo(kCategory, "status line feed installed in " + file_.path);
  if (!result.ok && !file_.path.empty())
    logError(kCategory, "status line feed not installed, " + file_.path + " left untouched: " + result.reason);
  return result;
}

HookEditResult StatusLineInstaller::remove() const {
  SettingsChange change;
  change.restoresBackup = true;
  change.apply = [](const Json& document, std::string& problem) -> std::optional<Json> {
    auto entry = document.is_object() ? document.find(kStatusLine) : document.end();
    if (!document.is_object() || entry == document.end()) return document;
    std::string ignored;
    const std::string* command = commandOf(*entry, ignored);
    if (!command || !status_line_command::isOurs(*command)) return document;  // not ours (any more)
    bool readable = false;
    const auto users = status_line_command::wrapped(*command, readable);
    if (!readable) {
      problem = "its \"statusLine\" holds a command of Tovami's that it cannot read back";
      return std::nullopt;
    }
    Json result = document;
    if (users)
      result[kStatusLine][kCommand] = *users;
    else
      result.erase(kStatusLine);
    return result;
  };
  const auto result = editSettingsFile(*files_, file_.path, change);
  if (result.ok && result.changed) logInfo(kCategory, "status line restored in " + file_.path);
  if (!result.ok)
    logError(kCategory, "status line not restored, " + file_.path + " left untouched: " + result.reason);
  return result;
}

}  // namespace tovami
