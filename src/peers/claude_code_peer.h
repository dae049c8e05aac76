// Everything Tovami relies on from Claude Code, gathered in one place: where it keeps its files,
// how it names a project's transcript folder, and the names and keys other parts bind to.
//
// Claude Code is a separate program we never start or control; any of these items may be missing
// or malformed at any time (not installed, not logged in, another version). Users of this header
// treat that as absence.
//
// Paths follow Claude Code's own rule: its configuration root is $CLAUDE_CONFIG_DIR when set,
// otherwise ~/.claude. The environment and the home folder are passed in, so tests can point
// everything at a temporary folder.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tovami::claude_code {

// The process: an executable whose last path component, lower-cased, is this name (directly or
// as the first argument of an interpreter) is the agent named below.
inline constexpr const char* kExecutableName = "claude";
inline constexpr const char* kAgentName = "Claude Code";

// The environment variable that moves the whole configuration root.
inline constexpr const char* kConfigDirVariable = "CLAUDE_CONFIG_DIR";

// settings.json: "hooks" maps an event name to a list of groups
// {"matcher"?: string, "hooks": [{"type": "command", "command": string, "timeout"?: seconds}]}.
// Claude Code skips the whole file when one entry has the wrong shape: write exactly these.
namespace settings_keys {
inline constexpr const char* kHooks = "hooks";
inline constexpr const char* kMatcher = "matcher";
inline constexpr const char* kType = "type";
inline constexpr const char* kCommandType = "command";
inline constexpr const char* kCommand = "command";
inline constexpr const char* kTimeout = "timeout";
inline constexpr const char* kNotificationEvent = "Notification";
}  // namespace settings_keys

// The JSON object a hook command receives on standard input.
namespace hook_event_keys {
inline constexpr const char* kEventName = "hook_event_name";
inline constexpr const char* kMessage = "message";
inline constexpr const char* kCwd = "cwd";
inline constexpr const char* kTitle = "title";  // absent in the versions seen so far
inline constexpr const char* kNotificationType = "notification_type";
inline constexpr const char* kTranscriptPath = "transcript_path";
}  // namespace hook_event_keys

// The live status file <root>/sessions/<pid>.json (recent versions, deleted at exit).
namespace session_status_keys {
inline constexpr const char* kPid = "pid";
inline constexpr const char* kSessionId = "sessionId";
inline constexpr const char* kCwd = "cwd";
inline constexpr const char* kStatus = "status";  // "idle", "busy", "waiting"
inline constexpr const char* kWaitingFor = "waitingFor";
inline constexpr const char* kUpdatedAt = "updatedAt";
inline constexpr const char* kStatusUpdatedAt = "statusUpdatedAt";
inline constexpr const char* kProcStart = "procStart";  // field 22 of /proc/<pid>/stat, as a string
inline constexpr const char* kName = "name";
// "derived" for a name Claude Code made up from the folder (not one the user gave the session).
inline constexpr const char* kNameSource = "nameSource";
}  // namespace session_status_keys

// Credentials: on Linux a 0600 JSON file in the configuration root; on macOS a keychain generic
// password with this service name. Both hold {"claudeAiOauth": {"accessToken": ..., ...}}.
inline constexpr const char* kCredentialsService = "Claude Code-credentials";
inline constexpr const char* kCredentialsOAuthKey = "claudeAiOauth";
inline constexpr const char* kCredentialsAccessTokenKey = "accessToken";

// Transcript folder names longer than this are cut and given "-" plus a hash of the full name.
inline constexpr std::size_t kProjectFolderNameLimit = 200;

// Claude Code's name for a project's transcript folder: every character outside A-Z, a-z and
// 0-9 becomes "-". Claude Code counts characters as UTF-16 code units, so a character outside the
// Basic Multilingual Plane (an emoji) becomes "--"; a byte that is not valid UTF-8 becomes one "-".
// The result is not cut here; see projectFolderPrefix for over-long names.
std::string projectFolderName(std::string_view projectPath);

// For a name over kProjectFolderNameLimit characters: the first 200 characters followed by "-".
// Claude Code appends a hash whose function is not documented, so callers match folders that
// begin with this prefix. Nothing for names within the limit.
std::optional<std::string> projectFolderPrefix(std::string_view folderName);

// Reads one environment variable; nothing when unset.
using EnvironmentLookup = std::function<std::optional<std::string>(std::string_view name)>;

// The calling process's environment, through the standard library.
EnvironmentLookup processEnvironment();

class ClaudeCodeLocations {
 public:
  // `home` is the user's home folder; `configDirVariable` the value of CLAUDE_CONFIG_DIR (an empty
  // value counts as unset). With neither a home nor the variable every path is empty.
  ClaudeCodeLocations(std::filesystem::path home, std::optional<std::string> configDirVariable);

  // The home folder from $HOME and the configuration root from $CLAUDE_CONFIG_DIR.
  static ClaudeCodeLocations fromEnvironment(const EnvironmentLookup& environment);

  const std::filesystem::path& configRoot() const { return root_; }
  bool isKnown() const { return !root_.empty(); }

  std::filesystem::path settingsPath() const;
  std::filesystem::path projectsFolder() const;
  std::filesystem::path sessionStatusPath(long long pid) const;
  std::filesystem::path credentialsPath() const;

 private:
  std::filesystem::path root_;
};

}  // namespace tovami::claude_code
