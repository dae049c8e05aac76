#include "integrations/approval_server.h"

#include <nlohmann/json.hpp>

#include "app/preference_keys.h"
#include "platform/log.h"
#include "platform/preferences_store.h"
#include "platform/random.h"

namespace tovami {
namespace {
constexpr auto kCategory = log_categories::kApprovals;
}

std::string approvalSocketPath(const claude_code::EnvironmentLookup& environment) {
  std::string data;
  if (auto xdg = environment("XDG_DATA_HOME"); xdg && !xdg->empty() && xdg->front() == '/') {
    data = *xdg;
  } else if (auto home = environment("HOME"); home && !home->empty()) {
    data = *home + "/.local/share";
  } else {
    return {};
  }
  while (data.size() > 1 && data.back() == '/') data.pop_back();
  return data + "/Tovami/agent.sock";
}

ApprovalServer::ApprovalServer(ApprovalServerDependencies deps)
    : deps_(std::move(deps)), queue_(deps_.dispatcher.makeSerialQueue(queue_labels::kApprovals)) {
  if (!deps_.random) deps_.random = systemRandomSource();
}

ApprovalServer::~ApprovalServer() {
  listener_.reset();  // joins the listener thread before the rest goes
}

void ApprovalServer::start() {
  if (!deps_.preferences.boolValue(prefs::kNotchApprovals) || listener_ || !deps_.sockets || !queue_) return;
  const uint64_t generation = ++generation_;
  std::weak_ptr<ApprovalServer> weak = weak_from_this();
  auto outcome = deps_.sockets->listen(deps_.socketPath, LocalListenerOptions{}, [weak, generation] {
    return std::make_unique<ApprovalConversation>([weak, generation](const nlohmann::json& event) {
      if (auto self = weak.lock()) self->handle(event, generation);
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
  listener_.reset();  // removes the socket file
  pendingClearWork_.cancel();
  answerKeyWork_.cancel();
  state_.setPending(std::nullopt);
}

// Listener thread.
void ApprovalServer::handle(const nlohmann::json& event, uint64_t generation) {
  auto request = approvalRequestFrom(event, randomUUID(*deps_.random), deps_.dispatcher.clock().now());
  if (!request) return;
  deps_.dispatcher.mainQueue().async(
      weakTask(shared_from_this(), [request = std::move(*request), generation](ApprovalServer& self) mutable {
        self.present(std::move(request), generation);
      }));
}

std::optional<AgentSession> ApprovalServer::sessionFor(const std::optional<std::string>& cwd) const {
  if (!cwd || !deps_.sessions) return std::nullopt;
  for (auto& session : deps_.sessions())
    if (session.projectPath && *session.projectPath == *cwd) return session;
  return std::nullopt;
}

void ApprovalServer::present(ApprovalRequest request, uint64_t generation) {
  if (generation != generation_ || !listener_) return;  // read before a stop
  if (deps_.isNapping && deps_.isNapping()) return;
  const auto session = sessionFor(request.cwd);
  if (session && session->terminalPID && deps_.apps) {
    const auto front = deps_.apps->frontmostApplicationPID();
    if (front && *front == *session->terminalPID) return;  // the asking terminal is in front already
  }
  const std::string id = request.id;
  state_.setPending(std::move(request));
  if (deps_.island) deps_.island->openForApproval();
  if (deps_.playCue) deps_.playCue(SoundCue::approvalAsked);
  pendingClearWork_.schedule(
      deps_.dispatcher.mainQueue(), kPendingLifetime,
      weakTask(shared_from_this(), [id](ApprovalServer& self) { self.clearIfUnchanged(id); }));
}

void ApprovalServer::clearIfUnchanged(const std::string& id) {
  if (!state_.pending() || state_.pending()->id != id) return;
  state_.setPending(std::nullopt);
  if (deps_.island) deps_.island->scheduleCollapseCheck();
}

void ApprovalServer::answer(bool allow) {
  const auto request = state_.pending();
  state_.setPending(std::nullopt);
  if (deps_.island) deps_.island->scheduleCollapseCheck();
  if (!request || !request->cwd) return;
  const auto session = sessionFor(request->cwd);
  if (!session) {
    logInfo(kCategory, "approval dismissed: no running agent works in that folder");
    return;
  }
  const AnswerKey key = allow ? AnswerKey::returnKey : AnswerKey::escape;
  if (!deps_.panes || !queue_) {
    typeAnswer(*session, key);
    return;
  }
  // The multiplexer's own tools may take a moment: ask them off the main thread.
  queue_->async([weak = weak_from_this(), panes = deps_.panes, session = *session, key] {
    const bool sent = panes->sendKey(session, key);
    if (auto self = weak.lock())
      self->deps_.dispatcher.mainQueue().async(weakTask(self, [sent, session, key](ApprovalServer& server) {
        if (sent)
          logInfo(kCategory, "answer sent to the agent's tmux pane");
        else
          server.typeAnswer(session, key);
      }));
  });
}

void ApprovalServer::typeAnswer(const AgentSession& session, AnswerKey key) {
  if (deps_.jump) deps_.jump->jump(session);
  const Seconds delay =
      session.terminalName == std::optional<std::string>("Warp") ? kWarpTypeDelay : kTypeDelay;
  answerKeyWork_.schedule(deps_.dispatcher.mainQueue(), delay,
                          weakTask(shared_from_this(), [session, key](ApprovalServer& self) {
                            self.postIfFrontmost(session, key);
                          }));
}

void ApprovalServer::postIfFrontmost(const AgentSession& session, AnswerKey key) {
  // A synthetic Return must never land in whatever window happens to be in front.
  const auto front = deps_.apps ? deps_.apps->frontmostApplicationPID() : std::nullopt;
  if (!session.terminalPID || !front || *front != *session.terminalPID) {
    logInfo(kCategory, "answer not typed: the agent's terminal is not in front");
    return;
  }
  if (!deps_.keys || !deps_.keys->postKey(key))
    logInfo(kCategory, "answer not typed: keys cannot be posted here");
}

}  // namespace tovami
