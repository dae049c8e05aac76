// Adds and removes the one Claude Code hook that pipes every notification into the approval
// socket. The user's settings file is edited in place: every other setting and hook stays, our
// own groups are recognised by a marker in their command, and the file is backed up once before
// the first change.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "app/app_services.h"
#include "integrations/claude_code_peer.h"
#include "platform/file_system.h"

namespace tovami {

inline constexpr const char* kHookMarker = "tovami-notch-approvals";
inline constexpr const char* kNetcatPath = "/usr/bin/nc";
inline constexpr int kHookTimeoutSeconds = 10;

namespace hook_texts {
inline const std::string kNotValidJson = "Couldn't update ~/.claude/settings.json \u2014 is it valid JSON?";
inline const std::string kNoNetcat =
    "Couldn't find /usr/bin/nc \u2014 install netcat (Debian: netcat-openbsd), then turn this on again.";
inline const std::string kNoClaudeFolder =
    "Couldn't find Claude Code's settings folder \u2014 start Claude Code once, then turn this on again.";
}  // namespace hook_texts

// The shell command of the hook. The socket path is spelled with $HOME when it lies in `home`.
std::string hookCommand(const std::string& socketPath, const std::string& home);

// `groups` without the hook groups that carry the marker, order kept. Elements that are not
// groups of ours (anything else a user may have written) stay as they are.
nlohmann::json removeOurEntries(const nlohmann::json& groups);

class HookInstaller final : public HookInstallControl {
 public:
  HookInstaller(std::shared_ptr<FileSystem> files, std::string settingsPath, std::string socketPath,
                std::string home, std::string netcatPath = kNetcatPath);

  // Main thread. True when the settings file now holds exactly one group of ours.
  bool install() override;
  // Main thread. True when the file holds no group of ours any more (or there was none).
  bool remove() override;
  // Why the last install failed, in words for the settings window.
  std::optional<std::string> failureText() const override { return failureText_; }

  std::string backupPath() const { return settingsPath_ + ".tovami-backup"; }
  std::string command() const { return hookCommand(socketPath_, home_); }

 private:
  // The settings object; an error text when the file cannot be used (nothing may be written then).
  std::optional<nlohmann::json> readSettings(std::string& error);
  std::optional<std::string> write(const nlohmann::json& settings);

  std::shared_ptr<FileSystem> files_;
  std::string settingsPath_, socketPath_, home_, netcatPath_;
  std::optional<std::string> failureText_;
};

}  // namespace tovami
