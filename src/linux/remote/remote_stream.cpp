#include "linux/remote/remote_stream.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <algorithm>
#include <map>
#include <optional>
#include <mutex>

#include "agents/agent_watcher.h"
#include "approvals/approval_hooks.h"
#include "approvals/approval_request.h"
#include "approvals/hook_client.h"
#include "agents/tmux_commands.h"
#include "linux/agents/proc_sampler.h"
#include "linux/agents/process_runner.h"
#include "linux/agents/x11_running_apps.h"
#include "linux/integrations/posix_file_system.h"
#include "linux/integrations/unix_socket_service.h"
#include "linux/jump/proc_jump_environment.h"
#include "linux/main/transcript_lookup.h"
#include "peers/claude_code_peer.h"
#include "peers/hook_installer.h"
#include "platform/thread_queue.h"
#include "remote/remote_protocol.h"

namespace tovami::linux_backend {
namespace {

// Standard output, written whole lines at a time from the loop and the socket's thread.
class LineOut {
 public:
  bool write(const std::vector<remote::UpMessage>& messages) {
    std::string text;
    for (const auto& message : messages) text += remote::encode(message) + "\n";
    if (text.empty()) return true;
    std::lock_guard lock(mutex_);
    heartbeat_.wrote(clock_.uptime());
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
  }
  // Seconds until a heartbeat is due after a quiet stretch; it is written when due.
  std::optional<Seconds> heartbeat() {
    Seconds wait = 0;
    {
      std::lock_guard lock(mutex_);
      wait = heartbeat_.wait(clock_.uptime());
    }
    if (wait > 0) return wait;
    return write({remote::Alive{}}) ? std::optional<Seconds>(remote::kHeartbeatAfter) : std::nullopt;
  }

 private:
  std::mutex mutex_;
  SystemClock clock_;
  remote::Heartbeat heartbeat_;
};

// The host's approval socket while the desktop takes its approvals: each decision request goes up
// and waits for its decision to come down; a client that leaves is withdrawn. When the link ends,
// the listener goes and every waiting client ends without a verdict.
class ApprovalBridge {
 public:
  explicit ApprovalBridge(LineOut& out) : out_(out) {}
  ~ApprovalBridge() { listener_.reset(); }  // before what its conversations use

  void setOn(bool on, Seconds now) {
    if (!on) {
      // The hooks go even when the socket never became this side's: its predecessor put them in.
      if (wanted_) editHooks(false);  // only what a Tovami put in
      wanted_ = false;
      listener_.reset();
      return;
    }
    wanted_ = true;
    if (!listener_) listen(now, true);
  }

  // After a cut link, the side that served it may still hold the socket while it ends (at once, or
  // after its kSilentAfter when it hears nothing): listening is tried again each second for a minute,
  // then each half minute, while the desktop wants approvals. The seconds until the next try, if one
  // is due.
  std::optional<Seconds> retry(Seconds now) {
    if (!wanted_ || listener_ || !retryAt_) return std::nullopt;
    if (now >= *retryAt_) listen(now, false);
    if (listener_ || !retryAt_) return std::nullopt;
    return *retryAt_ - now;
  }

  void decide(const remote::Decision& decision) {
    std::shared_ptr<ConversationReply> reply;
    {
      std::lock_guard lock(mutex_);
      const auto it = waiting_.find(decision.id);
      if (it == waiting_.end()) return;  // withdrawn meanwhile
      reply = std::move(it->second);
      waiting_.erase(it);
    }
    reply->send(decision.reply.empty() ? std::string() : decision.reply.dump());
  }

  // Every waiting client hears that this side lives; a suspended one sends nothing, and its clients
  // end without a verdict after kReplySilenceBound.
  void keepAlive() {
    std::vector<std::shared_ptr<ConversationReply>> replies;
    {
      std::lock_guard lock(mutex_);
      for (const auto& [id, reply] : waiting_) replies.push_back(reply);
    }
    for (const auto& reply : replies) reply->keepAlive();
  }

 private:
  void listen(Seconds now, bool report) {
    retryAt_.reset();
    const std::string path = approvalSocketPath(claude_code::processEnvironment());
    auto outcome = UnixSocketService().listen(path, LocalListenerOptions{}, [this] {
      return std::make_unique<ApprovalConversation>(
          [this](const nlohmann::json& object,
                 std::shared_ptr<ConversationReply> reply) -> std::optional<ApprovalConversation::Waiting> {
            return forward(object, std::move(reply));
          });
    });
    if (report) firstTry_ = now;
    if (!outcome.listener && outcome.servedByAnother)
      retryAt_ = now + (now - firstTry_ < kQuickRetries ? kListenRetry : kSlowListenRetry);
    if (!outcome.listener && report)
      std::fprintf(stderr, "tovami: approvals not served: %s\n",
                   outcome.servedByAnother ? "another Tovami serves this host's socket; trying again"
                                           : outcome.error.c_str());
    listener_ = std::move(outcome.listener);
    if (listener_) editHooks(true);
  }

  // Listener thread. Only decision requests go up: a notice's answer is typed, never across machines.
  std::optional<ApprovalConversation::Waiting> forward(const nlohmann::json& object,
                                                       std::shared_ptr<ConversationReply> reply) {
    const auto envelope = readEnvelope(object);
    if (!envelope || !waitsForDecision(envelope->event) || !reply) return std::nullopt;
    int64_t id = 0;
    {
      std::lock_guard lock(mutex_);
      if (waiting_.size() >= remote::kMaxPendingRequests) return std::nullopt;
      id = next_++;
      waiting_[id] = reply;
    }
    out_.write({remote::Request{id, std::string(hookEventName(envelope->event)), *envelope->payload}});
    return ApprovalConversation::Waiting{[this, id] {
      bool was = false;
      {
        std::lock_guard lock(mutex_);
        was = waiting_.erase(id) > 0;
      }
      if (was) out_.write({remote::Withdraw{id}});
    }};
  }

  // Claude Code's and Codex's hooks on this host, as the desktop's switches put them: in while the
  // desktop takes this host's approvals, out when it turns them off. A link that drops leaves them:
  // with no socket the hook client gives no verdict at once.
  void editHooks(bool in) {
    const auto environment = claude_code::processEnvironment();
    const std::string home = environment("HOME").value_or("");
    const std::string socket = approvalSocketPath(environment);
    char self[4096];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return;
    const std::string entry(self, size_t(length));
    auto files = std::make_shared<PosixFileSystem>();
    const auto claude = claude_code::ClaudeCodeLocations::fromEnvironment(environment).settingsPath().string();
    std::vector<HookInstaller> installers = {
        HookInstaller(files, approval_hooks::claudeCode(claude, home, entry, socket))};
    if (const auto codex = approval_hooks::codexHooksPath(environment); !codex.empty())
      installers.emplace_back(files, approval_hooks::codex(codex, home, entry, socket));
    for (const auto& installer : installers) {
      const auto result = in ? installer.install() : installer.remove();
      if (!result.ok && !result.missingFolder)
        std::fprintf(stderr, "tovami: %s left as it is: %s\n", installer.file().path.c_str(), result.reason.c_str());
    }
  }

  LineOut& out_;
  std::mutex mutex_;
  std::map<int64_t, std::shared_ptr<ConversationReply>> waiting_;
  int64_t next_ = 1;
  std::unique_ptr<LocalListener> listener_;
  bool wanted_ = false;
  std::optional<Seconds> retryAt_;
  Seconds firstTry_ = 0;
  static constexpr Seconds kListenRetry = 1, kQuickRetries = 60, kSlowListenRetry = 30;
};

// A jump from the desktop: the agent's own tmux pane (from its TMUX and TMUX_PANE) is selected in
// its window, when that pane still shows the agent's terminal.
void selectPane(const AgentSession& session) {
  ProcJumpEnvironment environment;
  const auto tmuxValue = environment.environmentVariable(session.pid, "TMUX");
  const auto pane = environment.environmentVariable(session.pid, "TMUX_PANE");
  const auto socket = tmuxValue ? tmux::socketFromEnvironment(*tmuxValue) : std::nullopt;
  const auto tmuxPath = environment.findExecutable("tmux");
  if (!socket || !pane || !session.terminalTTY || !tmuxPath) return;
  if (const auto arguments = tmux::selectKnownPaneArguments(*socket, *pane, tmux::devicePath(*session.terminalTTY)))
    PosixProcessLauncher().run(*tmuxPath, *arguments, 2.0);
}

}  // namespace

int runRemoteStream() {
  SystemClock clock;
  auto sampler = makeLinuxProcessSampler();
  X11RunningApplications apps;
  AgentScanner scanner(*sampler, apps, agentLogs());
  remote::DeltaBuilder rows;
  remote::LineSplitter input;
  LineOut out;
  ApprovalBridge approvals(out);

  if (!out.write({remote::Hello{remote::kProtocolVersion, TOVAMI_VERSION, clock.now()}})) return 1;
  Seconds nextScan = clock.uptime();
  Seconds nextKeepAlive = clock.uptime() + kKeepAliveInterval;
  remote::DesktopSilence desktop;
  char buffer[16384];
  for (;;) {
    const auto beat = out.heartbeat();
    if (!beat) return 1;
    const auto silence = desktop.wait(clock.uptime());
    if (silence && *silence <= 0) {
      std::fprintf(stderr, "tovami: nothing from the desktop for %d s; this side ends\n", int(remote::kSilentAfter));
      return 0;
    }
    if (clock.uptime() >= nextKeepAlive) {
      approvals.keepAlive();
      nextKeepAlive = clock.uptime() + kKeepAliveInterval;
    }
    const Seconds scanWait = nextScan - clock.uptime();
    const auto listenWait = approvals.retry(clock.uptime());
    const Seconds wait = std::min({scanWait, *beat, nextKeepAlive - clock.uptime(), silence.value_or(*beat),
                                   listenWait.value_or(*beat)});
    if (scanWait <= 0) {
      if (auto result = scanner.scan(clock.now())) {
        auto messages = rows.update(result->entries);
        for (const auto& announcement : result->announcements)
          for (const auto& entry : result->entries)
            if (entry.pid == announcement.pid) messages.emplace_back(remote::Announce{remote::rowId(entry)});
        if (!out.write(messages)) return 1;
      }
      nextScan = clock.uptime() + AgentWatcher::kScanInterval;
      continue;
    }
    pollfd in{STDIN_FILENO, POLLIN, 0};
    const int ready = ::poll(&in, 1, int(std::ceil(wait * 1000)));
    if (ready < 0 && errno != EINTR) return 1;
    if (ready <= 0) continue;
    const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return 0;  // the desktop ended the link
    std::vector<std::string> lines;
    if (!input.feed(std::string_view(buffer, size_t(got)), lines)) return 1;
    for (const auto& line : lines) {
      std::string error;
      const auto message = remote::decodeDown(line, error);
      desktop.heard(message && std::holds_alternative<remote::Alive>(*message), clock.uptime());
      if (!message) continue;
      if (const auto* decision = std::get_if<remote::Decision>(&*message))
        approvals.decide(*decision);
      else if (const auto* switched = std::get_if<remote::Approvals>(&*message))
        approvals.setOn(switched->on, clock.uptime());
      else if (const auto* jump = std::get_if<remote::Jump>(&*message))
        if (const auto session = rows.session(jump->id)) selectPane(*session);
    }
  }
}

}  // namespace tovami::linux_backend
