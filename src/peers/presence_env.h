// CLAUDE_CLIENT_PRESENCE_FILE in settings.json's "env" block, naming Tovami's presence file. A
// value of the user's own is never replaced (the switch says so); one of Tovami's (its file name)
// is rewritten when the folder moved. Removing takes the variable out again, and the block too
// when it is left empty.
#pragma once

#include <memory>
#include <string>

#include "peers/hook_installer.h"

namespace tovami {

class PresenceEnvInstaller final : public SettingsEditor {
 public:
  // `file`: Claude Code's settings.json (entries unused); `presencePath`: the absolute path to name.
  PresenceEnvInstaller(std::shared_ptr<FileSystem> files, HookFile file, std::string presencePath);

  HookEditResult install() const override;
  HookEditResult remove() const override;
  const HookFile& file() const override { return file_; }

 private:
  std::shared_ptr<FileSystem> files_;
  HookFile file_;
  std::string presencePath_;
};

}  // namespace tovami
