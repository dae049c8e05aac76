// Which conversation log belongs to which running agent, and what it says. Each process is bound
// to its own session:
//   - Claude Code: its live status file names the session, hence <project folder>/<id>.jsonl;
//     without one, a transcript the process holds open; then the project's newest transcript
//     that no other agent is bound to (a guess: no session id is claimed for it).
//   - Codex and Gemini CLI: among the agents of one kind in one folder, one to one. A rollout the
//     process itself (or a child on its terminal) holds open is its own; Codex's shared
//     app-server holds every session's rollout open, so what helpers hold says nothing. Every
//     other log goes to the agent that started closest before the session did (the rollout's
//     session_meta, the chat's header), and an agent with several takes the newest. A log
//     that names no start, or one older than every agent (a resumed session), goes to an agent
//     left without one, newest first, when it was written since that agent started.
//   The session id is the one the log names (rollout's session_meta id, chat's sessionId).
// Not thread-safe: the watcher uses it on its queue only; a one-shot listing uses its own.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "agents/claude_session_status.h"
#include "agents/codex_rollout.h"
#include "agents/conversation_log.h"
#include "agents/gemini_chat.h"
#include "peers/claude_code_peer.h"

namespace tovami {

struct AgentLogRequest {
  int32_t pid = 0;
  std::string agentName;
  std::optional<std::string> projectPath;
  Seconds startedAt = 0;                 // Unix seconds
  std::optional<uint64_t> processStart;  // field 22 of /proc/<pid>/stat
  // The files the agent and its descendants on its terminal hold open (asked only when needed);
  // may be empty.
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
  // Once per scan, before the first read: every agent it will read, so that sessions of one agent
  // in one folder are told apart whichever is read first. The requests stay valid until scanEnded.
  virtual void scanStarting(const std::vector<AgentLogRequest>& /*agents*/) {}
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
  // A session may seem to start this long before its process did (clock rounding).
  static constexpr Seconds kSessionSlack = 1.0;
  // An agent's session begins this soon after the agent starts, at the latest (6 s seen on a busy
  // machine): two agents without a session started this close before one cannot be told apart.
  static constexpr Seconds kSessionBeginWindow = 15.0;
  // An agent's log found without its own word for it (no status file) is looked for again once in
  // this many reads: a new session in the same process (Codex's /new) is seen within 15 s.
  static constexpr uint32_t kFindAgainEvery = 5;

  explicit AgentLogReader(AgentLogLocations locations);

  AgentLogReport read(const AgentLogRequest& request) override;
  void scanStarting(const std::vector<AgentLogRequest>& agents) override;
  void scanEnded() override;

 private:
  using Peers = std::vector<std::pair<int32_t, Seconds>>;  // pid and start, in pid order
  struct Binding {
    std::unique_ptr<ConversationLog> log;
    std::optional<std::string> sessionId;
    bool touched = true;
    uint32_t scansSinceFound = 0;
    std::pair<std::optional<uint64_t>, Seconds> process;  // the process it was found for
    Peers peers;  // the agents of its kind in its folder then: another one looks again
  };
  // A Codex rollout or a Gemini CLI chat that may be some agent's.
  struct Candidate {
    std::filesystem::path path;
    Seconds modified = 0;
    std::optional<Seconds> startedAt;  // the session's, as its log names it
    std::optional<std::string> sessionId;
  };
  struct Found {
    std::filesystem::path path;
    std::optional<std::string> sessionId;
  };
  struct Assignment {
    std::unordered_map<int32_t, Found> found;
    std::unordered_set<int32_t> served;  // the agents it was handed to
  };

  // The log found for an agent, while it may be followed without looking for it again: as long as
  // the status file names the same session (`sessionId` given), else for kFindAgainEvery reads.
  // Finding a log lists folders or the files the agent holds open; following one costs a stat
  // while it does not change.
  std::optional<AgentLogReport> keptLog(const AgentLogRequest& request,
                                        const std::optional<std::string>* sessionId = nullptr);

  AgentLogReport readClaude(const AgentLogRequest& request);
  // Codex and Gemini CLI: the log assigned to the agent (see the top of this file).
  AgentLogReport readAssigned(const AgentLogRequest& request);
  // The agents of the request's kind in its folder this scan (the request itself at least).
  std::vector<const AgentLogRequest*> peersOf(const AgentLogRequest& request) const;
  Peers peerKey(const AgentLogRequest& request) const;
  // The logs of the agents of one kind in one folder, one to one; computed once a scan.
  const Assignment& assignment(const AgentLogRequest& request);
  std::vector<Candidate> codexCandidates(const std::string& projectPath, Seconds since);
  std::vector<Candidate> geminiCandidates(const std::string& projectPath, Seconds since);
  // Follows `file` for the agent (the binding is kept when it is the same file).
  std::optional<ConversationSummary> follow(const AgentLogRequest& request, const std::filesystem::path& file,
                                            ConversationFormat format,
                                            std::optional<std::string> sessionId = std::nullopt);
  bool boundToAnother(int32_t pid, const std::filesystem::path& file) const;
  std::optional<std::filesystem::path> openLog(const AgentLogRequest& request,
                                               const std::filesystem::path& under, std::string_view prefix,
                                               std::string_view extension) const;
  std::optional<codex_rollout::SessionMeta> codexMeta(const std::filesystem::path& file);
  std::optional<gemini_chat::Header> geminiHeader(const std::filesystem::path& file);
  std::optional<std::filesystem::path> geminiChats(const std::string& projectPath);

  AgentLogLocations locations_;
  ClaudeSessionStatusReader statuses_;
  std::unordered_map<int32_t, Binding> bindings_;
  std::unordered_map<std::string, std::optional<codex_rollout::SessionMeta>> codexMetas_;
  std::unordered_map<std::string, std::optional<gemini_chat::Header>> geminiHeaders_;
  std::unordered_map<std::string, std::filesystem::path> geminiFolders_;
  std::vector<AgentLogRequest> scanAgents_;
  // By agent and folder, for the agents it was made for.
  std::map<std::pair<std::string, std::string>, std::pair<Peers, Assignment>> assignments_;
};

// The transcript of Claude Code session `sessionId` of the project at `projectPath`, where it
// exists. Nothing for an id that is not a plain file name.
std::optional<std::filesystem::path> claudeTranscriptOf(const std::filesystem::path& projectsFolder,
                                                        const std::string& projectPath,
                                                        const std::string& sessionId);

}  // namespace tovami
