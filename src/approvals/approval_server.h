// The approval server: the agents' hooks (Tovami's hook client, or a bare notice piped in) reach
// a local socket (docs/approval-protocol.md). A permission request keeps its connection open and
// gets the user's decision as the reply; a permission notice from a version without that hook is
// answered by typing Return or Escape into the agent's own pane or window, and only after checking
// that this very session still shows its prompt. Each request is one card in arrival order; a
// card goes when its prompt is answered elsewhere (status file, closed connection).
//
// Threads: the socket's listener thread reads and parses; everything else (the queue, expiry,
// answers) belongs to the main queue. Status files and tmux run on the serial queue
// "app.tovami.approvals".
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "agents/agent_attention.h"
#include "agents/agent_session.h"
#include "agents/claude_session_status.h"
#include "agents/terminal_jump.h"
#include "app/app_services.h"
#include "app/sound_cues.h"
#include "approvals/approval_request.h"
#include "peers/claude_code_peer.h"
#include "peers/status_line_feed.h"
#include "approvals/hook_client.h"
#include "platform/delayed_work.h"
#include "platform/key_synthesis.h"
#include "platform/local_socket.h"
#include "platform/running_apps.h"
#include "platform/shared_instance.h"

namespace tovami {

class PreferenceStore;
class RandomSource;

// What the server asks of the island.
class ApprovalIslandLink {
 public:
  virtual ~ApprovalIslandLink() = default;
  virtual void openForApproval() = 0;
  // The island decides whether it may close now that the approval is gone.
  virtual void scheduleCollapseCheck() = 0;
};

// Answers straight into the terminal multiplexer pane an agent runs in (tmux), without touching
// the focus. Runs on the approvals queue.
class PaneAnswer {
 public:
  enum class Outcome {
    sent,        // the pane showed a permission prompt and the key went in
    notInPane,   // the agent runs in no pane this reaches
    noPrompt,    // the pane shows no permission prompt: nothing typed
    failed,      // the multiplexer did not take the key
  };
  virtual ~PaneAnswer() = default;
  virtual Outcome sendKey(const AgentSession& session, AnswerKey key) = 0;
};

// The window that shows an agent's session and the window in front, to type only into the very
// window (not just the process) of the asking session. Main thread.
class AnswerWindows {
 public:
  virtual ~AnswerWindows() = default;
  // The one top-level window showing the session; nothing when it cannot be told apart (a
  // terminal process with several windows none of which names the session).
  virtual std::optional<uint64_t> windowShowing(const AgentSession& session) = 0;
  virtual std::optional<uint64_t> activeWindow() = 0;
  // Whether `window` shows the session's own tab now (see windowShowsSession).
  virtual bool showsSession(const AgentSession& session, uint64_t window) = 0;
};

struct ApprovalServerDependencies {
  Dispatcher& dispatcher;
  PreferenceStore& preferences;
  std::shared_ptr<LocalSocketService> sockets;
  std::string socketPath;
  std::function<std::vector<AgentSession>()> sessions;  // the watcher's current list; may be empty
  std::function<bool()> isNapping;                      // may be empty: never napping
  std::shared_ptr<RunningApplications> apps;            // unused since answers check windows
  std::shared_ptr<ApprovalIslandLink> island;           // null: no island
  std::function<void(SoundCue)> playCue;                // may be empty
  std::shared_ptr<TerminalJump> jump;                   // null: no jump
  std::shared_ptr<PaneAnswer> panes;                    // null: never through a multiplexer
  std::shared_ptr<KeySynthesizer> keys;                 // null: keys are never typed
  std::shared_ptr<RandomSource> random;                 // for request ids
  // Claude Code's status file of a pid (approvals queue); empty: never known.
  std::function<std::optional<ClaudeSessionStatus>(int32_t pid)> sessionStatus;
  std::shared_ptr<AnswerWindows> windows;  // null: no keystroke outside a multiplexer
  // Whether the user looks at the asking agent (approvals queue); null: never looking.
  std::shared_ptr<AgentAttention> attention;
  // Main thread: a status line input, while "statusLineFeed" is on. May be empty.
  std::function<void(const StatusLineFeed&)> statusLine;
};

class ApprovalServer final : public StartStopControl,
                             public SharedInstance<ApprovalServer>,
                             public std::enable_shared_from_this<ApprovalServer> {
 public:
  // A notice's card (keystroke road) lives this long; a decision request as long as its client
  // waits (its connection), at most the bound below for its agent.
  static constexpr Seconds kPendingLifetime = 75.0;
  static constexpr Seconds kClaudeDecisionBound = hookDecisionBound(HookEvent::permissionRequest);
  static constexpr Seconds kCodexDecisionBound = hookDecisionBound(HookEvent::codexPermissionRequest);
  // Status files of the sessions with a card are read this often while a card is up; a waiting client
  // gets its keep-alive (kKeepAliveInterval) on the same tick.
  static constexpr Seconds kStatusPollInterval = 0.5;
  // A status that never said "waiting" withdraws the card only after this grace (the file is
  // rewritten about when the hook starts, either side of it).
  static constexpr Seconds kStatusGrace = 2.0;
  // A notice for a session that sent a decision request this recently is the same prompt.
  static constexpr Seconds kDuplicateNoticeWindow = 15.0;
  static constexpr Seconds kNoticeLifetime = 8.0;
  static constexpr const char* kDeniedMessage = "Denied from Tovami by the user.";
  static constexpr Seconds kTypeDelay = 0.7;
  static constexpr Seconds kWarpTypeDelay = 2.2;
  static constexpr const char* kNoticeSound = "Ping";

  // Create with std::make_shared: the socket's callbacks and delayed work hold it weakly.
  explicit ApprovalServer(ApprovalServerDependencies deps);
  ~ApprovalServer() override;

  // Main thread. Listens when "notchApprovals", "codexApprovals" or "statusLineFeed" is on and it
  // does not listen yet.
  void start() override;
  // Whether a switch that needs the socket is on.
  static bool wanted(const PreferenceStore& preferences);
  // Main thread. Stops listening, removes the socket file and clears the pending approval.
  void stop() override;
  // Main thread: the user's answer to the card with this id. An id no longer waiting (answered,
  // withdrawn, expired) is ignored, so a click never reaches a card that arrived since.
  void answer(const std::string& requestId, ApprovalDecision decision);

  // Main thread: a decision request from another machine's link (an approval-protocol object), shown
  // with `host` before its project and answered through `reply`. Returns its id, or nothing when it
  // is not shown (then `reply` had no verdict).
  std::optional<std::string> presentRemote(const std::string& host, const nlohmann::json& object,
                                           std::shared_ptr<ConversationReply> reply);
  // Main thread: the remote client left or the link dropped; its card goes.
  void withdrawRemote(const std::string& id) { withdraw(id, "its remote client left"); }

  bool isListening() const { return listener_ != nullptr; }
  // Main thread, at the program's end: stops and waits for a tmux answer under way. start() does
  // nothing afterwards.
  void shutDown();
  ApprovalState& state() { return state_; }
  const std::string& socketPath() const { return deps_.socketPath; }

 private:
  struct Tracking {
    Seconds arrivedUptime = 0;
    Seconds expiresUptime = 0;
    Seconds keptAliveUptime = 0;  // the last line feed to the waiting client (or its arrival)
    bool sawWaiting = false;
    std::shared_ptr<ConversationReply> reply;  // decision road only
  };

  std::optional<ApprovalConversation::Waiting> handle(const nlohmann::json& object,
                                                      std::shared_ptr<ConversationReply> reply,
                                                      uint64_t generation);
  void present(ApprovalRequest request, std::shared_ptr<ConversationReply> reply, uint64_t generation);
  void admit(ApprovalRequest request, std::shared_ptr<ConversationReply> reply, bool looking);
  void mapNotice(ApprovalRequest& request, const std::vector<AgentSession>& sessions) const;
  void withdraw(const std::string& id, const char* why);
  void finishRequest(const std::string& id, std::optional<std::string> replyBytes);
  void pollPending();
  void applyStatuses(const std::vector<std::pair<std::string, std::optional<ClaudeSessionStatus>>>& statuses);
  void deliverKeystroke(const ApprovalRequest& request, AnswerKey key);
  void typeAnswer(const AgentSession& session, AnswerKey key);
  void postIfFrontmost(const AgentSession& session, uint64_t window, AnswerKey key);
  void undelivered(const std::string& why);
  std::optional<int32_t> pidOf(const ApprovalRequest& request) const;
  std::optional<AgentSession> liveSession(const ApprovalRequest& request) const;
  std::vector<AgentSession> sessions() const;
  Seconds uptime() const { return deps_.dispatcher.clock().uptime(); }

  ApprovalServerDependencies deps_;
  ApprovalState state_;
  std::shared_ptr<TaskQueue> queue_;
  std::unique_ptr<LocalListener> listener_;
  std::map<std::string, Tracking> tracking_;            // by request id
  std::map<std::string, Seconds> decisionSessions_;     // session id -> uptime of its last decision request
  RepeatingTimer pollTimer_;
  bool pollInFlight_ = false;
  DelayedWork answerKeyWork_;
  DelayedWork noticeClearWork_;
  uint64_t generation_ = 0;  // one per start(): a notice read before a stop is never shown after it
  // Requests whose asker's attention is being checked; a client that leaves meanwhile drops its id.
  std::map<std::string, std::shared_ptr<ConversationReply>> checking_;
};

}  // namespace tovami
