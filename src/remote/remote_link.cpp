#include "remote/remote_link.h"

#include <algorithm>
#include <string_view>

#include "agents/process_table.h"
#include "remote/remote_protocol.h"

namespace tovami::remote {
namespace {

bool has(const std::string& text, std::string_view word) {
  return text.find(word) != std::string::npos;
}

// The last non-empty line of ssh's standard error, printable ASCII only, at most 160 bytes.
std::string lastLine(const std::string& text) {
  const auto end = text.find_last_not_of("\r\n \t");
  if (end == std::string::npos) return {};
  const auto newline = text.find_last_of('\n', end);
  const auto start = newline == std::string::npos ? 0 : newline + 1;
  std::string line;
  for (char c : text.substr(start, std::min<size_t>(end + 1 - start, 160)))
    line += (c >= 0x20 && c < 0x7F) ? c : '?';
  return line;
}

}  // namespace

std::string linkFailureText(const std::string& host, int exitStatus, const std::string& stderrTail) {
  if (exitStatus == 255 || exitStatus < 0) {
    if (has(stderrTail, "Host key verification failed") || has(stderrTail, "REMOTE HOST IDENTIFICATION HAS CHANGED"))
      return host + "'s host key is not known yet: run `ssh " + host + "` once";
    if (has(stderrTail, "Permission denied")) return "permission denied";
    for (std::string_view word :
         {"Could not resolve hostname", "Name or service not known", "Temporary failure in name resolution",
          "Connection refused", "Connection timed out", "timed out", "Network is unreachable", "No route to host",
          "Connection reset", "Connection closed", "not responding", "Broken pipe"})
      if (has(stderrTail, word)) return "the network is down";
    if (exitStatus < 0) return "the link to " + host + " was cut";
  }
  if (exitStatus == 127 || has(stderrTail, "command not found"))
    return "Tovami is not installed on " + host + ": install it there (as `tovami` on the PATH or in ~/.local/bin)";
  const std::string line = lastLine(stderrTail);
  if (exitStatus == 0) return "Tovami on " + host + " ended";
  return "ssh to " + host + " ended with status " + std::to_string(exitStatus) + (line.empty() ? "" : ": " + line);
}

std::vector<std::string> sshArguments(const std::string& host, const std::string& controlFolder) {
  // The remote login shell runs the command; `sh -c` keeps it independent of that shell's syntax.
  std::vector<std::string> arguments = {"-T", "-o", "BatchMode=yes"};
  // Without a private folder for its socket, no shared connection at all.
  for (const std::string& option :
       controlFolder.empty()
           ? std::vector<std::string>{"ControlMaster=no"}
           : std::vector<std::string>{"ControlMaster=auto", "ControlPath=" + controlFolder + "/%C", "ControlPersist=60"})
    arguments.insert(arguments.end(), {"-o", option});
  for (const char* option : {"ServerAliveInterval=15", "ServerAliveCountMax=3", "ConnectTimeout=20"})
    arguments.insert(arguments.end(), {"-o", option});
  arguments.insert(arguments.end(),
                   {"--", host, "sh -c 'p=$(command -v tovami) || p=\"$HOME/.local/bin/tovami\"; exec \"$p\" --remote-stream'"});
  return arguments;
}

bool usableHostName(const std::string& host) {
  if (host.empty() || host.size() > 255 || host.front() == '-') return false;
  return std::all_of(host.begin(), host.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
           c == '_' || c == '@' || c == ':' || c == '[' || c == ']';
  });
}

std::optional<int32_t> interactiveSshTo(const std::string& host, const std::vector<PSRow>& rows) {
  std::optional<int32_t> newest;
  double youngest = 0;
  for (const auto& row : rows) {
    if (!row.tty || executableName(row.args) != "ssh") continue;
    const auto words = commandArguments(row);
    const bool names = std::any_of(words.begin() + (words.empty() ? 0 : 1), words.end(), [&](std::string_view w) {
      return w == host || (w.size() > host.size() && w.ends_with(host) && w[w.size() - host.size() - 1] == '@');
    });
    const bool link = std::any_of(words.begin(), words.end(), [](std::string_view w) { return w == "BatchMode=yes"; });
    if (names && !link && (!newest || row.elapsed < youngest)) newest = row.pid, youngest = row.elapsed;
  }
  return newest;
}

RemoteLink::RemoteLink(std::string host, Dispatcher& dispatcher, Actions actions)
    : host_(std::move(host)), dispatcher_(dispatcher), actions_(std::move(actions)) {}

void RemoteLink::start() {
  if (phase_ != Phase::stopped) return;
  retry_ = kFirstRetry;
  connect();
}

void RemoteLink::connect() {
  timer_.cancel();
  silence_.clear();
  phase_ = Phase::connecting;
  actions_.changed();
  timer_.schedule(dispatcher_.mainQueue(), kHelloWithin, [this] {
    if (phase_ != Phase::connecting) return;
    silence_ = host_ + " did not answer within " + std::to_string(int(kHelloWithin)) + " s";
    actions_.terminate();
  });
  actions_.launch();
}

void RemoteLink::stop() {
  timer_.cancel();
  const bool running = phase_ == Phase::connecting || phase_ == Phase::connected;
  phase_ = Phase::stopped;
  if (running) {
    ending_ = true;
    actions_.terminate();
  }
}

void RemoteLink::greeted() {
  if (phase_ != Phase::connecting) return;
  timer_.cancel();
  phase_ = Phase::connected;
  failure_.clear();
  connectedAt_ = heardAt_ = dispatcher_.clock().uptime();
  watchSilence(kSilentAfter);
  if (actions_.beat) actions_.beat();  // at once too: the remote side counts silence from the first
  beatWhileConnected();
  actions_.changed();
}

// The remote side cannot tell a dropped network or a stopped desktop from a quiet one either:
// the desktop's heartbeat lets it end, and its waiting clients with it, as this side ends a
// silent link.
void RemoteLink::beatWhileConnected() {
  beat_.schedule(dispatcher_.mainQueue(), kHeartbeatAfter, [this] {
    if (phase_ != Phase::connected) return;
    if (actions_.beat) actions_.beat();
    beatWhileConnected();
  });
}

void RemoteLink::heard() {
  if (phase_ == Phase::connected) heardAt_ = dispatcher_.clock().uptime();
}

// One timer for the whole silence, not one per read: when it fires early, it waits out the rest.
void RemoteLink::watchSilence(Seconds after) {
  timer_.schedule(dispatcher_.mainQueue(), after, [this] {
    if (phase_ != Phase::connected) return;
    const Seconds quiet = dispatcher_.clock().uptime() - heardAt_;
    if (quiet < kSilentAfter) return watchSilence(kSilentAfter - quiet);
    silence_ = host_ + " stopped answering (nothing for " + std::to_string(int(kSilentAfter)) + " s)";
    actions_.terminate();
  });
}

void RemoteLink::childEnded(int exitStatus, const std::string& stderrTail, const std::string& reason) {
  if (ending_ || phase_ == Phase::stopped) {
    ending_ = false;
    return;
  }
  failure_ = !reason.empty()     ? reason
             : !silence_.empty() ? silence_
                                 : linkFailureText(host_, exitStatus, stderrTail);
  if (phase_ == Phase::connected && dispatcher_.clock().uptime() - connectedAt_ >= kSteadyAfter)
    retry_ = kFirstRetry;
  phase_ = Phase::waiting;
  timer_.schedule(dispatcher_.mainQueue(), retry_, [this] { connect(); });
  retry_ = std::min(retry_ * 2, kMaxRetry);
  actions_.changed();
}

void RemoteLink::networkChanged() {
  if (phase_ != Phase::waiting) return;
  retry_ = kFirstRetry;
  connect();
}

std::string RemoteLink::stateText() const {
  switch (phase_) {
    case Phase::connected:
      return "connected";
    case Phase::connecting:
      return failure_.empty() ? "connecting…" : failure_ + "; connecting again…";
    case Phase::waiting:
      return failure_;
    case Phase::stopped:
      break;
  }
  return {};
}

}  // namespace tovami::remote
