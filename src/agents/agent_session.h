// What the agent watcher shows about one running coding agent, and the main-thread state that
// holds the current list for the tray menu and the island.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "agents/claude_transcript_parsing.h"
#include "agents/session_details.h"
#include "platform/scheduler.h"

namespace tovami {

enum class AgentActivity { working, quiet };

struct AgentSession {
  int32_t pid = 0;  // also the identity of the entry
  std::string agentName;
  std::string projectName;
  std::optional<std::string> projectPath;
  std::optional<std::string> terminalName;
  std::optional<int32_t> terminalPID;
  std::optional<std::string> terminalTTY;
  Seconds startedAt = 0;  // Unix seconds
  int64_t ageMinutes = 0;
  AgentActivity activity = AgentActivity::working;
  std::optional<ConversationSummary> context;  // agents whose log was found (Claude Code, Codex, Gemini CLI)
  // The agent's own session, where the agent says which it is (Claude Code's status file): the id
  // its hooks send as "session_id", and the name shown for the session.
  std::optional<std::string> sessionId;
  std::optional<std::string> sessionName;
  // What the agent waits for while it waits for the user ("permission prompt", "input needed").
  std::optional<std::string> waitingFor;
  // What Claude Code's status line last said of this very session (model, context, cost, branch).
  std::optional<SessionDetails> details;
  // The SSH host the agent runs on (its ssh name); absent for an agent of this machine.
  std::optional<std::string> host;
  // A row of another machine shown under a local number (`pid`): the agent's pid on its host.
  std::optional<int32_t> hostPid;

  bool operator==(const AgentSession&) const = default;

  // "now", "45m", "2h 10m", "3h", "2d".
  std::string ageLabel() const;
  bool hasSnippet() const;
};

// A working folder as the process table reports it. Once the folder is removed the kernel shows
// its path followed by " (deleted)"; that marker is dropped (unless a folder of that very name
// exists) and `deleted` is set: such an agent is shown without a transcript.
struct WorkingFolder {
  std::string path;
  bool deleted = false;
};
WorkingFolder workingFolder(std::string reported);

// The project name shown for an agent: the last component of its folder, else the agent name in
// lower case; "~" when that is empty.
std::string agentProjectName(const std::optional<std::string>& projectPath, const std::string& agentName);

// What a waiting agent waits for when it does not say.
inline constexpr const char* kWaitingForInput = "input needed";

// The name shown for a session: the user's title for it, else the generated one, else the name
// the agent's status gives (cleaned of control and bidirectional characters), else the folder.
std::string agentSessionName(const std::optional<ConversationSummary>& conversation,
                             const std::optional<std::string>& statusName, const std::string& projectName);

// The state word of a row: "needs you" while the agent waits for the user, else "working" or "idle".
std::string agentStateLabel(const AgentSession& session);

// The tray menu row: "api — Claude · idle", with the session's name where it is not the
// folder's: "api · Fix the login — Claude · needs you", and its status line's details after it:
// "api — Claude · working · Opus 4.6 · 43 % context · $1.20".
std::string agentMenuTitle(const AgentSession& session);

// The watcher's published state. Lives on the main thread: read, written and observed there only.
class AgentWatchState {
 public:
  using Observer = std::function<void()>;

  const std::vector<AgentSession>& sessions() const { return sessions_; }
  bool napWhenIdleArmed() const { return napWhenIdleArmed_; }
  bool anyWorking() const;

  // Observers run only when the value actually changes. Each session carries its status line's
  // details (see StatusLineSessions::bind).
  void setSessions(std::vector<AgentSession> sessions);
  void addStatusLine(StatusLineFeed feed);
  const StatusLineSessions& statusLines() const { return statusLines_; }
  void setNapWhenIdleArmed(bool armed);

  int addObserver(Observer observer);
  void removeObserver(int token);

 private:
  void notify();

  std::vector<AgentSession> sessions_;
  StatusLineSessions statusLines_;
  bool napWhenIdleArmed_ = false;
  std::map<int, Observer> observers_;
  int nextToken_ = 1;
};

}  // namespace tovami
