// Adds and removes Tovami's hook entries in an agent's hooks file (Claude Code's settings.json,
// Codex's hooks.json: both map "hooks" -> event -> list of groups
// {"matcher"?: string, "hooks": [{"type": "command", "command": string, "timeout"?: seconds}]}).
//
// The user's file is edited in place and refused untouched when it is not one the agent would
// accept (see settings_json.h for the bounds): every other value stays exactly as written, our
// own hooks are recognised by a marker in their command (so entries of older versions are
// replaced), the file is backed up once before the first change, and a change another program
// makes meanwhile is never overwritten. Thread-safe: it holds no state between calls.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "peers/settings_json.h"
#include "platform/file_system.h"

namespace tovami {

inline constexpr const char* kHookMarker = "tovami-notch-approvals";

// One hook of ours: a group without matcher (every tool) holding one command hook.
struct HookEntry {
  std::string event;
  std::string command;
  int timeoutSeconds = 0;
};

struct HookFile {
  std::string path;         // empty: the agent's folder is unknown (no home)
  std::string displayPath;  // for the user: "~/.claude/settings.json"
  std::string agentName;    // "Claude Code"
  std::vector<HookEntry> entries;
};

struct HookEditResult {
  bool ok = false;
  std::string reason;  // not ok: why, in words for the user and the log ("its \"hooks\" is not an object")
  bool missingFolder = false;
  bool changed = false;  // ok: the file was written (ours were not already as wanted, by value)
};

// The installed command: the entry named by its absolute path, shell-quoted, the switch, the
// approval socket's exact path (shell-quoted: the agent's environment may place the data folder
// elsewhere than Tovami's), then the marker:
//   '/usr/bin/tovami' --hook permission-request --socket '/home/u/.local/share/Tovami/agent.sock' #
//   tovami-notch-approvals
// Empty when either path is not absolute.
std::string hookCommand(const std::string& entryPath, const std::string& hookName,
                        const std::string& socketPath);
std::string singleQuoted(const std::string& text);

// One change to a settings file, made with the guarantees above: a file the agent would reject, or
// one `apply` refuses, stays untouched with the reason; one already as wanted is not written; the
// backup is taken once; another program's change meanwhile is read again, never overwritten.
struct SettingsChange {
  // The wanted document for the current one (an empty object for a missing file); nothing, with
  // `problem` in words, to leave the file as it is.
  std::function<std::optional<settings_json::Json>(const settings_json::Json& current, std::string& problem)> apply;
  bool createsFile = false;     // a missing file is written (when its folder exists), else left missing
  bool restoresBackup = false;  // a result equal in value to the backup is written as the backup's bytes
};
HookEditResult editSettingsFile(FileSystem& files, const std::string& path, const SettingsChange& change);
inline std::string settingsBackupPath(const std::string& path) {
  return path + ".tovami-backup";
}

// What a switch-side service edits in an agent's file: ours in, or ours out.
class SettingsEditor {
 public:
  virtual ~SettingsEditor() = default;
  virtual HookEditResult install() const = 0;
  virtual HookEditResult remove() const = 0;
  virtual const HookFile& file() const = 0;
};

class HookInstaller : public SettingsEditor {
 public:
  HookInstaller(std::shared_ptr<FileSystem> files, HookFile file);

  // Ours ends exactly as `entries` says (one group per entry, after the user's groups; groups of
  // ours already as wanted stay where they are). A file already as wanted is not written at all.
  HookEditResult install() const override;
  // No hook of ours remains (also true when there was none, or no file).
  HookEditResult remove() const override;

  const HookFile& file() const override { return file_; }
  std::string backupPath() const { return settingsBackupPath(file_.path); }

 private:
  HookEditResult edit(bool installing) const;

  std::shared_ptr<FileSystem> files_;
  HookFile file_;
};

}  // namespace tovami
