// Tovami's client as Claude Code's status line command, wrapping the user's own: settings.json's
// "statusLine" {"type": "command", "command": "...", "refreshInterval"?, "padding"?}. The user's
// command travels inside ours, shell-quoted after "--wrap", so turning the feed off restores it
// from the entry alone; every other key of the entry stays as the user wrote it.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "peers/hook_installer.h"

namespace tovami {

inline constexpr const char* kStatusLineMarker = "tovami-status-line";

namespace status_line_command {
// '<entry>' --hook status-line --socket '<socket>' [--wrap '<user command>'] # tovami-status-line
// Empty when either path is not absolute.
std::string build(const std::string& entryPath, const std::string& socketPath,
                  const std::optional<std::string>& wrapped);
bool isOurs(const std::string& command);
// The user's command inside one of ours: nothing when there was none ("--wrap" absent), and
// nothing with `readable` false when the text is not one build() writes.
std::optional<std::string> wrapped(const std::string& command, bool& readable);
}  // namespace status_line_command

class StatusLineInstaller final : public SettingsEditor {
 public:
  // `file`: Claude Code's settings.json (entries unused).
  StatusLineInstaller(std::shared_ptr<FileSystem> files, HookFile file, std::string entryPath, std::string socketPath);

  // Ours wraps whatever command the entry held (an entry of ours for another path is rebuilt with
  // the same wrapped command); without an entry, ours alone.
  HookEditResult install() const override;
  // The entry as it was before ours: the user's command back in place, or no entry at all.
  HookEditResult remove() const override;
  const HookFile& file() const override { return file_; }

 private:
  std::shared_ptr<FileSystem> files_;
  HookFile file_;
  std::string entryPath_, socketPath_;
};

}  // namespace tovami
