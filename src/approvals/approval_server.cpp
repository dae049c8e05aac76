#include "approvals/approval_server.h"

#include <nlohmann/json.hpp>

#include "app/preference_keys.h"
#include "approvals/hook_client.h"
#include "platform/log.h"
#include "platform/preferences_store.h"
#include "platform/random.h"

namespace tovami {
namespace {
constexpr auto kCategory = log_categories::kApprovals;

// The running agent a request comes from: its session id first, so two sessions in one folder
// never get each other's answers; else the folder, when exactly one running agent (of any kind)
// works there and it is not known to be another session.
const AgentSession* boundSession(const ApprovalRequest& request, const std::vector<AgentSession>& all) {
  if (request.sessionId)
    for (const auto& session : all)
      if (session.sessionId == request.sessionId) return &session;
  const AgentSession* only = nullptr;
  int count = 0;
  if (request.cwd)
    for (const auto& session : all)
      if (session.projectPath == request.cwd) {
        only = &session;
        ++count;
      }
  if (count == 1 && (!only->sessionId || !request.sessionId)) return only;
  return nullptr;
}
}  // namespace

ApprovalServer::ApprovalServer(ApprovalServerDependencies deps)
    : deps_(std::move(deps)), queue_(deps_.dispatcher.makeSerialQueue(queue_labels::kApprovals)) {
  if (!deps_.random) deps_.random = systemRandomSource();
}

ApprovalServer::~ApprovalServer() {
  listener_.reset();  // joins the listener thread before the rest goes
}

bool ApprovalServer::wanted(const PreferenceStore& preferences) {
  return preferences.boolValue(prefs::kNotchApprovals) || preferences.boolValue(prefs::kCodexApprovals) ||
         preferences.boolValue(prefs::kStatusLineFeed);
}

void ApprovalServer::start() {
  if (!wanted(deps_.preferences) || listener_ || !deps_.sockets || !queue_) return;
  const uint64_t generation = ++generation_;
  std::weak_ptr<ApprovalServer> weak = weak_from_this();
  auto outcome = deps_.sockets->listen(deps_.socketPath, LocalListenerOptions{}, [weak, generation] {
    return std::make_unique<ApprovalConversation>(
        [weak, generation](const nlohmann::json& object,
                           std::shared_ptr<ConversationReply> reply) -> std::optional<ApprovalConversation::Waiting> {
          if (auto self = weak.lock()) return self->handle(object, std::move(reply), generation);
          return std::nullopt;
        });
  });
  if (!outcome.listener) {
    logError(kCategory, outcome.servedByAnother
                            ? "approval server failed: another Tovami already serves " + deps_.socketPath
                            : "approval server failed: " + outcome.error);
    return;
  }
  listener_ = std::move(outcome.listener);
  logInfo(kCategory, "approval server listening");
}

void ApprovalServer::shutDown() {
  stop();
  queue_.reset();
}

void ApprovalServer::stop() {
  ++generation_;
  listener_.reset();  // removes the socket file and closes every waiting client: no verdict
  for (auto& [id, tracking] : tracking_)
    if (tracking.reply) tracking.reply->send({});
  tracking_.clear();
  for (auto& [id, reply] : checking_)
    if (reply) reply->send({});
  checking_.clear();
  pollTimer_.cancel();
  answerKeyWork_.cancel();
  state_.clear();
}

std::vector<AgentSession> ApprovalServer::sessions() const {
  return deps_.sessions ? deps_.sessions() : std::vector<AgentSession>{};
}

// Listener thread.
std::optional<ApprovalConversation::Waiting> ApprovalServer::handle(const nlohmann::json& object,
                                                                    std::shared_ptr<ConversationReply> reply,
                                                                    uint64_t generation) {
  const auto envelope = readEnvelope(object);
  if (!envelope) return std::nullopt;
  if (envelope->event == HookEvent::statusLine) {
    auto feed = statusLineFeedFrom(*envelope->payload, envelope->pids, deps_.dispatcher.clock().now());
    deps_.dispatcher.mainQueue().async(
        weakTask(shared_from_this(), [feed = std::move(feed), generation](ApprovalServer& self) {
          if (generation != self.generation_ || !self.listener_ || !self.deps_.statusLine ||
              !self.deps_.preferences.boolValue(prefs::kStatusLineFeed))
            return;
          self.deps_.statusLine(feed);
        }));
    return std::nullopt;
  }
  auto request = approvalRequestFrom(*envelope->payload, randomUUID(*deps_.random), deps_.dispatcher.clock().now(),
                                     agentOf(envelope->event));
  if (!request) return std::nullopt;
  // Only a request of the decision road that its client waits on is answered through the socket.
  const bool waits = waitsForDecision(envelope->event) && request->road == ApprovalRoad::decision && reply;
  if (!waits) {
    if (request->road != ApprovalRoad::keystroke) return std::nullopt;
    reply = nullptr;
  }
  const std::string id = request->id;
  deps_.dispatcher.mainQueue().async(weakTask(
      shared_from_this(), [request = std::move(*request), reply, generation](ApprovalServer& self) mutable {
        self.present(std::move(request), std::move(reply), generation);
      }));
  if (!waits) return std::nullopt;
  std::weak_ptr<ApprovalServer> weak = weak_from_this();
  return ApprovalConversation::Waiting{[weak, id] {
    if (auto self = weak.lock())
      self->deps_.dispatcher.mainQueue().async(
          weakTask(self, [id](ApprovalServer& server) { server.withdraw(id, "its client left"); }));
  }};
}

std::optional<std::string> ApprovalServer::presentRemote(const std::string& host, const nlohmann::json& object,
                                                         std::shared_ptr<ConversationReply> reply) {
  const auto envelope = readEnvelope(object);
  auto request = envelope && waitsForDecision(envelope->event)
                     ? approvalRequestFrom(*envelope->payload, randomUUID(*deps_.random),
                                           deps_.dispatcher.clock().now(), agentOf(envelope->event))
                     : std::nullopt;
  // Only the decision road crosses machines: a notice's answer would be typed here.
  if (!request || request->road != ApprovalRoad::decision || (deps_.isNapping && deps_.isNapping())) {
    reply->send({});
    return std::nullopt;
  }
  request->projectName = host + " \u00b7 " + request->projectName;
  std::string id = request->id;
  admit(std::move(*request), std::move(reply), false);
  return id;
}

void ApprovalServer::mapNotice(ApprovalRequest& request, const std::vector<AgentSession>& all) const {
  const auto* session = boundSession(request, all);
  if (!session) {
    request.answerable = false;
    return;
  }
  request.agentPid = session->pid;
  // Outside tmux the answer is typed: only into a window that shows this session's own tab.
  if (session->terminalName != std::optional<std::string>("tmux")) {
    const auto window = deps_.windows ? deps_.windows->windowShowing(*session) : std::nullopt;
    request.answerable = window && deps_.windows->showsSession(*session, *window);
  }
}

void ApprovalServer::present(ApprovalRequest request, std::shared_ptr<ConversationReply> reply, uint64_t generation) {
  const auto dropped = [&reply] {
    if (reply) reply->send({});  // no verdict: the agent's own prompt decides
  };
  if (generation != generation_ || !listener_) return dropped();  // read before a stop
  if (deps_.isNapping && deps_.isNapping()) return dropped();
  // Each switch answers only for its own agent: the socket serves while either is on.
  if (!deps_.preferences.boolValue(request.agent == ApprovalAgent::codex ? prefs::kCodexApprovals
                                                                          : prefs::kNotchApprovals)) {
    logInfo(kCategory, std::string("approval from ") + request.agentName() + " ignored: its switch is off");
    return dropped();
  }
  const auto all = sessions();
  if (request.sessionId)
    for (const auto& session : all)
      if (session.sessionId == request.sessionId && session.sessionName) {
        // A session without a name of its own is named after its folder: shown once, not twice.
        auto name = approvalDisplayText(*session.sessionName, kApprovalNameLength);
        if (!name.empty() && name != request.projectName) request.sessionName = std::move(name);
      }
  const Seconds now = uptime();
  for (auto it = decisionSessions_.begin(); it != decisionSessions_.end();)
    it = now - it->second > kDuplicateNoticeWindow ? decisionSessions_.erase(it) : std::next(it);

  if (request.road == ApprovalRoad::decision) {
    // One dialog at a time per session: an older card of this session belongs to a prompt that is
    // gone, and a notice's card for the same prompt gives way to this one.
    if (request.sessionId) {
      decisionSessions_[*request.sessionId] = now;
      std::vector<std::string> older;
      for (const auto& held : state_.requests())
        if (held.sessionId == request.sessionId && held.agent == request.agent) older.push_back(held.id);
      for (const auto& id : older) withdraw(id, "a newer request of its session arrived");
    }
  } else {
    // The notice that follows a decision request (about 6 s later) is the same prompt: one card.
    if (request.sessionId && decisionSessions_.count(*request.sessionId)) return;
    // A newer notice of a session with a notice's card is a newer prompt: the older card would
    // answer it, so it goes.
    std::vector<std::string> older;
    for (const auto& held : state_.requests())
      if (request.sessionId && held.sessionId == request.sessionId) {
        if (held.road == ApprovalRoad::decision) return;
        older.push_back(held.id);
      }
    for (const auto& id : older) withdraw(id, "a newer notice of its session arrived");
    mapNotice(request, all);
    if (request.agentPid && deps_.windows) {
      for (const auto& session : all)
        if (session.pid == *request.agentPid) {
          const auto shown = deps_.windows->windowShowing(session);
          if (shown && shown == deps_.windows->activeWindow()) return;  // the user is looking at it
        }
    }
  }

  // Whether the user looks at the asker may take a tmux run: asked on the approvals queue, and the
  // card waits for the answer (a client that leaves meanwhile withdraws it from checking_).
  // A Codex request is never quiet: while its hook waits, its pane shows only "Running hooks".
  const AgentSession* asker = boundSession(request, all);
  if (!deps_.attention || !asker || !queue_ || request.agent == ApprovalAgent::codex)
    return admit(std::move(request), std::move(reply), false);
  checking_[request.id] = reply;
  queue_->async([weak = weak_from_this(), attention = deps_.attention, session = *asker, request, generation] {
    const bool looking = attention->userIsLookingAt(session);
    if (auto self = weak.lock())
      self->deps_.dispatcher.mainQueue().async(
          weakTask(self, [request, generation, looking](ApprovalServer& server) {
            auto it = server.checking_.find(request.id);
            if (it == server.checking_.end() || generation != server.generation_) return;
            auto waiting = std::move(it->second);
            server.checking_.erase(it);
            server.admit(request, std::move(waiting), looking);
          }));
  });
}

void ApprovalServer::admit(ApprovalRequest request, std::shared_ptr<ConversationReply> reply, bool looking) {
  const Seconds now = uptime();
  Tracking tracking;
  tracking.arrivedUptime = now;
  tracking.keptAliveUptime = now;
  tracking.expiresUptime =
      now + (request.road == ApprovalRoad::keystroke   ? kPendingLifetime
             : request.agent == ApprovalAgent::codex ? kCodexDecisionBound
                                                     : kClaudeDecisionBound);
  tracking.reply = std::move(reply);
  tracking_[request.id] = std::move(tracking);
  logInfo(kCategory, std::string("approval asked by ") + request.agentName() +
                         (request.road == ApprovalRoad::decision ? " (decision)" : " (notice)") +
                         (looking ? ", quietly: the user looks at it" : ""));
  request.quiet = looking;
  state_.add(std::move(request));
  if (!looking) {
    if (deps_.island) deps_.island->openForApproval();
    if (deps_.playCue) deps_.playCue(SoundCue::approvalAsked);
  }
  if (!pollTimer_.isRunning())
    pollTimer_.start(deps_.dispatcher.mainQueue(), kStatusPollInterval,
                     weakTask(shared_from_this(), [](ApprovalServer& self) { self.pollPending(); }));
}

void ApprovalServer::finishRequest(const std::string& id, std::optional<std::string> replyBytes) {
  auto it = tracking_.find(id);
  if (it != tracking_.end()) {
    if (it->second.reply) it->second.reply->send(replyBytes.value_or(std::string()));
    tracking_.erase(it);
  }
  if (state_.remove(id) && state_.count() == 0 && deps_.island) deps_.island->scheduleCollapseCheck();
  if (tracking_.empty()) pollTimer_.cancel();
}

void ApprovalServer::withdraw(const std::string& id, const char* why) {
  if (checking_.erase(id)) return;  // its card was never shown
  if (!state_.find(id)) return;
  logInfo(kCategory, std::string("approval withdrawn: ") + why);
  finishRequest(id, std::nullopt);
}

std::optional<int32_t> ApprovalServer::pidOf(const ApprovalRequest& request) const {
  if (request.agentPid) return request.agentPid;
  if (!request.sessionId) return std::nullopt;
  for (const auto& session : sessions())
    if (session.sessionId == request.sessionId) return session.pid;
  return std::nullopt;
}

void ApprovalServer::pollPending() {
  const Seconds now = uptime();
  std::vector<std::string> expired;
  for (const auto& [id, tracking] : tracking_)
    if (now >= tracking.expiresUptime) expired.push_back(id);
  for (const auto& id : expired) withdraw(id, "nobody answered in time");
  // A stopped or stuck desktop sends none: its clients stop waiting (docs/approval-protocol.md).
  for (auto& [id, tracking] : tracking_)
    if (tracking.reply && now - tracking.keptAliveUptime >= kKeepAliveInterval) {
      tracking.keptAliveUptime = now;
      tracking.reply->keepAlive();
    }
  if (!deps_.sessionStatus || pollInFlight_ || !queue_) return;
  std::vector<std::pair<std::string, int32_t>> asked;
  for (const auto& request : state_.requests())
    if (request.agent == ApprovalAgent::claudeCode)
      if (auto pid = pidOf(request)) asked.emplace_back(request.id, *pid);
  if (asked.empty()) return;
  pollInFlight_ = true;
  queue_->async([weak = weak_from_this(), read = deps_.sessionStatus, asked] {
    std::vector<std::pair<std::string, std::optional<ClaudeSessionStatus>>> statuses;
    for (const auto& [id, pid] : asked) statuses.emplace_back(id, read(pid));
    if (auto self = weak.lock())
      self->deps_.dispatcher.mainQueue().async(weakTask(self, [statuses](ApprovalServer& server) {
        server.pollInFlight_ = false;
        server.applyStatuses(statuses);
      }));
  });
}

void ApprovalServer::applyStatuses(
    const std::vector<std::pair<std::string, std::optional<ClaudeSessionStatus>>>& statuses) {
  const Seconds now = uptime();
  for (const auto& [id, status] : statuses) {
    auto it = tracking_.find(id);
    // No file, or a version that writes no status: the connection alone tells.
    const ApprovalRequest* request = state_.find(id);
    if (it == tracking_.end() || !request || !status) continue;
    if (request->sessionId && status->sessionId != *request->sessionId) {
      withdraw(id, "its session has ended");
      continue;
    }
    if (status->state == ClaudeSessionStatus::State::unknown) continue;
    if (status->waitingForPermission()) {
      it->second.sawWaiting = true;
    } else if (it->second.sawWaiting || now - it->second.arrivedUptime >= kStatusGrace) {
      withdraw(id, "the session no longer waits for a permission prompt (answered in the terminal?)");
    }
  }
}

void ApprovalServer::answer(const std::string& requestId, ApprovalDecision decision) {
  const ApprovalRequest* held = state_.find(requestId);
  if (!held) {
    logInfo(kCategory, "answer dropped: that request no longer waits");
    return;
  }
  const ApprovalRequest request = *held;
  if (request.road == ApprovalRoad::decision) {
    finishRequest(request.id, decisionReply(request, decision, kDeniedMessage));
    logInfo(kCategory, std::string("decision sent to ") + request.agentName() + ": " +
                           (decision == ApprovalDecision::deny ? "deny" : "allow"));
    return;  // never typed
  }
  finishRequest(request.id, std::nullopt);
  if (!request.answerable)
    return undelivered("the request could not be tied to one running session; answer in its terminal");
  deliverKeystroke(request, decision == ApprovalDecision::deny ? AnswerKey::escape : AnswerKey::returnKey);
}

std::optional<AgentSession> ApprovalServer::liveSession(const ApprovalRequest& request) const {
  if (!request.agentPid) return std::nullopt;
  for (const auto& session : sessions())
    if (session.pid == *request.agentPid) {
      // A pid reused by another session, or a restarted agent, is not the one that asked.
      if (session.sessionId && request.sessionId && session.sessionId != request.sessionId) return std::nullopt;
      if (request.cwd && session.projectPath && session.projectPath != request.cwd) return std::nullopt;
      return session;
    }
  return std::nullopt;
}

void ApprovalServer::undelivered(const std::string& why) {
  logInfo(kCategory, "answer not delivered: " + why);
  state_.setNotice(ApprovalNotice{"Answer not delivered: " + why, deps_.dispatcher.clock().now()});
  noticeClearWork_.schedule(deps_.dispatcher.mainQueue(), kNoticeLifetime,
                            weakTask(shared_from_this(), [](ApprovalServer& self) { self.state_.setNotice(std::nullopt); }));
}

void ApprovalServer::deliverKeystroke(const ApprovalRequest& request, AnswerKey key) {
  const auto session = liveSession(request);
  if (!session) return undelivered("the asking session has ended; answer in its terminal");
  if (!queue_) return undelivered("Tovami is ending");
  // The status file and the multiplexer's own tools may take a moment: off the main thread.
  queue_->async([weak = weak_from_this(), status = deps_.sessionStatus, panes = deps_.panes, session = *session, key] {
    enum class Step { sent, promptGone, typeInWindow, failed };
    Step step = Step::typeInWindow;
    std::optional<ClaudeSessionStatus> known;
    if (status) known = status(session.pid);
    if (known && ((session.sessionId && known->sessionId != *session.sessionId) ||
                  (known->state != ClaudeSessionStatus::State::unknown && !known->waitingForPermission()))) {
      step = Step::promptGone;
    } else if (panes) {
      switch (panes->sendKey(session, key)) {
        case PaneAnswer::Outcome::sent: step = Step::sent; break;
        case PaneAnswer::Outcome::noPrompt: step = Step::promptGone; break;
        case PaneAnswer::Outcome::failed: step = Step::failed; break;
        case PaneAnswer::Outcome::notInPane: break;
      }
    }
    if (auto self = weak.lock())
      self->deps_.dispatcher.mainQueue().async(weakTask(self, [step, session, key](ApprovalServer& server) {
        switch (step) {
          case Step::sent:
            logInfo(kCategory, "answer sent to the agent's tmux pane");
            break;
          case Step::promptGone:
            logInfo(kCategory, "answer not typed: the session no longer shows a permission prompt");
            break;
          case Step::failed:
            server.undelivered("tmux did not take the key; answer in the terminal");
            break;
          case Step::typeInWindow:
            server.typeAnswer(session, key);
            break;
        }
      }));
  });
}

void ApprovalServer::typeAnswer(const AgentSession& session, AnswerKey key) {
  const auto window = deps_.windows ? deps_.windows->windowShowing(session) : std::nullopt;
  if (!window || !deps_.keys) return undelivered("its terminal window cannot be told apart; answer in the terminal");
  if (deps_.jump) deps_.jump->jump(session);
  const Seconds delay =
      session.terminalName == std::optional<std::string>("Warp") ? kWarpTypeDelay : kTypeDelay;
  answerKeyWork_.schedule(deps_.dispatcher.mainQueue(), delay,
                          weakTask(shared_from_this(), [session, window = *window, key](ApprovalServer& self) {
                            self.postIfFrontmost(session, window, key);
                          }));
}

void ApprovalServer::postIfFrontmost(const AgentSession& session, uint64_t window, AnswerKey key) {
  // A synthetic key must never land in whatever window happens to be in front: only the very
  // window of this session, not another window of the same terminal process.
  if (!deps_.windows || deps_.windows->activeWindow() != window ||
      deps_.windows->windowShowing(session) != window)
    return undelivered("the agent's terminal window did not come to the front; answer in the terminal");
  if (!deps_.windows->showsSession(session, window))
    return undelivered("the agent's terminal shows another tab; answer in the terminal");
  if (!deps_.keys->postKey(key)) undelivered("keys cannot be typed here; answer in the terminal");
}

}  // namespace tovami
