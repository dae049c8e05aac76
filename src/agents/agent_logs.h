// Which conversation log belongs to which running agent, and what it says. Each process is bound
// to its own session:
//   - Claude Code: its live status file names the session, hence <project folder>/<id>.jsonl;
//     without one, a transcript the process holds open; then the project's newest transcript
//     that no other agent is bound to (a guess: no session id is claimed for it).
//   - Codex: a rollout the process (or its child) holds open, else the newest rollout under the
//     sessions folder whose first record names the agent's folder and started after the process.
//   - Gemini CLI: the newest chat of the project's chats folder written since the process started
//     that no other agent is bound to.
// Not thread-safe: the watcher uses it on its queue only; a one-shot listing uses its own.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "agents/claude_session_status.h"
#include "agents/codex_rollout.h"
#include "agents/conversation_log.h"
#include "integrations/claude_code_peer.h"

namespace tovami {

struct AgentLogRequest {
  int32_t pid = 0;
  std::string agentName;
  std::optional<std::string> projectPath;
  Seconds startedAt = 0;                 // Unix seconds
  std::optional<uint64_t> processStart;  // field 22 of /proc/<pid>/stat
  // The files the agent and its children hold open (asked only when needed); may be empty.
  std::function<std::vector<std::string>()> openFiles;
};

struct AgentLogReport {
  std::optional<ConversationSummary> conversation;
  std::optional<ClaudeSessionStatus> status;  // Claude Code's live status, as read now
  std::optional<std::string> sessionId;       // only when the agent itself names it
  bool operator==(const AgentLogReport&) const = default;
};

class AgentLogs {
 public:
  virtual ~AgentLogs() = default;
  virtual AgentLogReport read(const AgentLogRequest& request) = 0;
  // Once per scan, after every read: forgets the agents not read in it.
  virtual void scanEnded() {}
};

struct AgentLogLocations {
  claude_code::ClaudeCodeLocations claude{{}, std::nullopt};
  std::filesystem::path codexSessions;  // <CODEX_HOME>/sessions
  std::filesystem::path geminiFolder;   // ~/.gemini

  static AgentLogLocations fromEnvironment(const claude_code::EnvironmentLookup& environment);
};

class AgentLogReader final : public AgentLogs {
 public:
  // A file changed this long before the process started is not its log (clock rounding).
  static constexpr Seconds kStartSlack = 5.0;
  // An agent's log found without its own word for it (no status file) is looked for again once in
  // this many reads: a new session in the same process (Codex's /new) is seen within 15 s.
  static constexpr uint32_t kFindAgainEvery = 5;

  explicit AgentLogReader(AgentLogLocations locations);

  AgentLogReport read(const AgentLogRequest& request) override;
  void scanEnded() override;

 private:
  struct Binding {
    std::unique_ptr<ConversationLog> log;
    std::optional<std::string> sessionId;
    bool touched = true;
    uint32_t scansSinceFound = 0;
    std::pair<std::optional<uint64_t>, Seconds> process;  // the process it was found for
  };

  // The log found for an agent, while it may be followed without looking for it again: as long as
  // the status file names the same session (`sessionId` given), else for kFindAgainEvery reads.
  // Finding a log lists folders or the files the agent holds open; following one costs a stat
  // while it does not change.
  std::optional<AgentLogReport> keptLog(const AgentLogRequest& request,
                                        const std::optional<std::string>* sessionId = nullptr);

  AgentLogReport readClaude(const AgentLogRequest& request);
  AgentLogReport readCodex(const AgentLogRequest& request);
  AgentLogReport readGemini(const AgentLogRequest& request);
  // Follows `file` for the agent (the binding is kept when it is the same file).
  std::optional<ConversationSummary> follow(const AgentLogRequest& request, const std::filesystem::path& file,
                                            ConversationFormat format,
                                            std::optional<std::string> sessionId = std::nullopt);
  bool boundToAnother(int32_t pid, const std::filesystem::path& file) const;
  // The modification time of `file` when it is a regular log written since the agent started,
  // newer than `newest` and not followed for another agent; nothing otherwise.
  std::optional<Seconds> newerFreeLog(const std::filesystem::directory_entry& file, const AgentLogRequest& request,
                                      std::optional<Seconds> newest) const;
  std::optional<std::filesystem::path> openLog(const AgentLogRequest& request,
                                               const std::filesystem::path& under, std::string_view prefix,
                                               std::string_view extension) const;
  std::optional<codex_rollout::SessionMeta> codexMeta(const std::filesystem::path& file);
  std::optional<std::filesystem::path> geminiChats(const std::string& projectPath);

  AgentLogLocations locations_;
  ClaudeSessionStatusReader statuses_;
  std::unordered_map<int32_t, Binding> bindings_;
  std::unordered_map<std::string, std::optional<codex_rollout::SessionMeta>> codexMetas_;
  std::unordered_map<std::string, std::filesystem::path> geminiFolders_;
};

// The transcript of Claude Code session `sessionId` of the project at `projectPath`, where it
// exists. Nothing for an id that is not a plain file name.
std::optional<std::filesystem::path> claudeTranscriptOf(const std::filesystem::path& projectsFolder,
                                                        const std::string& projectPath,
                                                        const std::string& sessionId);

}  // namespace tovami
