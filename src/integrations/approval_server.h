// The approval server: Claude Code's hook pipes each notification into a local socket; a
// permission notice becomes the single pending approval, the island opens with Allow and Deny,
// and the answer goes to the agent's own terminal as Return or Escape. The socket never answers
// with a byte, so Claude Code always shows its own prompt as well.
//
// Threads: the socket's listener thread reads and parses; everything else (the pending request,
// its expiry, the answer) belongs to the main queue. The tmux lookup runs on the serial queue
// "app.tovami.approvals".
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "agents/agent_session.h"
#include "agents/terminal_jump.h"
#include "app/app_services.h"
#include "app/sound_cues.h"
#include "integrations/approval_request.h"
#include "integrations/claude_code_peer.h"
#include "platform/delayed_work.h"
#include "platform/key_synthesis.h"
#include "platform/local_socket.h"
#include "platform/running_apps.h"
#include "platform/shared_instance.h"

namespace tovami {

class PreferenceStore;
class RandomSource;

// Where the socket lives: $XDG_DATA_HOME/Tovami/agent.sock (~/.local/share when the variable is
// unset or not an absolute path). Empty without a home folder.
std::string approvalSocketPath(const claude_code::EnvironmentLookup& environment);

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
  virtual ~PaneAnswer() = default;
  // True when the agent runs in a pane this reaches and the key went into that pane.
  virtual bool sendKey(const AgentSession& session, AnswerKey key) = 0;
};

struct ApprovalServerDependencies {
  Dispatcher& dispatcher;
  PreferenceStore& preferences;
  std::shared_ptr<LocalSocketService> sockets;
  std::string socketPath;
  std::function<std::vector<AgentSession>()> sessions;  // the watcher's current list; may be empty
  std::function<bool()> isNapping;                      // may be empty: never napping
  std::shared_ptr<RunningApplications> apps;            // the frontmost application
  std::shared_ptr<ApprovalIslandLink> island;           // null: no island
  std::function<void(SoundCue)> playCue;                // may be empty
  std::shared_ptr<TerminalJump> jump;                   // null: no jump
  std::shared_ptr<PaneAnswer> panes;                    // null: never through a multiplexer
  std::shared_ptr<KeySynthesizer> keys;                 // null: keys are never typed
  std::shared_ptr<RandomSource> random;                 // for request ids
};

class ApprovalServer final : public StartStopControl,
                             public SharedInstance<ApprovalServer>,
                             public std::enable_shared_from_this<ApprovalServer> {
 public:
  static constexpr Seconds kPendingLifetime = 75.0;
  static constexpr Seconds kTypeDelay = 0.7;
  static constexpr Seconds kWarpTypeDelay = 2.2;
  static constexpr const char* kNoticeSound = "Ping";

  // Create with std::make_shared: the socket's callbacks and delayed work hold it weakly.
  explicit ApprovalServer(ApprovalServerDependencies deps);
  ~ApprovalServer() override;

  // Main thread. Listens when "notchApprovals" is on and it does not listen yet.
  void start() override;
  // Main thread. Stops listening, removes the socket file and clears the pending approval.
  void stop() override;
  // Main thread: Allow (true) or Deny (false) from the island or the tray.
  void answer(bool allow);

  bool isListening() const { return listener_ != nullptr; }
  // Main thread, at the program's end: stops and waits for a tmux answer under way. start() does
  // nothing afterwards.
  void shutDown();
  ApprovalState& state() { return state_; }
  const std::string& socketPath() const { return deps_.socketPath; }

 private:
  void handle(const nlohmann::json& event, uint64_t generation);
  void present(ApprovalRequest request, uint64_t generation);
  void clearIfUnchanged(const std::string& id);
  void typeAnswer(const AgentSession& session, AnswerKey key);
  void postIfFrontmost(const AgentSession& session, AnswerKey key);
  std::optional<AgentSession> sessionFor(const std::optional<std::string>& cwd) const;

  ApprovalServerDependencies deps_;
  ApprovalState state_;
  std::shared_ptr<TaskQueue> queue_;
  std::unique_ptr<LocalListener> listener_;
  DelayedWork pendingClearWork_;
  DelayedWork answerKeyWork_;
  uint64_t generation_ = 0;  // one per start(): a notice read before a stop is never shown after it
};

}  // namespace tovami
