#include "linux/integrations/tmux_pane_answer.h"

#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/log.h"

namespace tovami::linux_backend {
namespace {
constexpr double kToolTimeout = 3.0;
}

std::optional<std::string> tmuxSocketFromEnvironment(const std::string& environ) {
  std::istringstream entries(environ);
  std::string entry;
  while (std::getline(entries, entry, '\0')) {
    if (entry.rfind("TMUX=", 0) != 0) continue;
    // TMUX=<socket path>,<server pid>,<session index>
    auto value = entry.substr(5);
    auto comma = value.find(',');
    auto socket = value.substr(0, comma);
    if (socket.empty() || socket.front() != '/') return std::nullopt;
    return socket;
  }
  return std::nullopt;
}

std::optional<std::string> paneWithTTY(const std::string& listing, const std::string& tty) {
  std::istringstream lines(listing);
  std::string line;
  while (std::getline(lines, line)) {
    auto space = line.find(' ');
    if (space == std::string::npos) continue;
    if (line.substr(0, space) == tty && line.size() > space + 1 && line[space + 1] == '%')
      return line.substr(space + 1);
  }
  return std::nullopt;
}

TmuxPaneAnswer::TmuxPaneAnswer(std::shared_ptr<ProcessLauncher> launcher, std::string procRoot)
    : launcher_(std::move(launcher)), procRoot_(std::move(procRoot)) {
  for (const char* path : {"/usr/bin/tmux", "/bin/tmux", "/usr/local/bin/tmux"})
    if (::access(path, X_OK) == 0) {
      tmux_ = path;
      break;
    }
}

bool TmuxPaneAnswer::sendKey(const AgentSession& session, AnswerKey key) {
  if (tmux_.empty() || !session.terminalTTY || session.pid <= 0) return false;
  std::ifstream file(procRoot_ + "/" + std::to_string(session.pid) + "/environ", std::ios::binary);
  const std::string environ((std::istreambuf_iterator<char>(file)), {});
  const auto socket = tmuxSocketFromEnvironment(environ);
  if (!socket) return false;
  const std::string tty =
      session.terminalTTY->rfind("/dev/", 0) == 0 ? *session.terminalTTY : "/dev/" + *session.terminalTTY;
  const auto listing = launcher_->run(
      tmux_, {"-S", *socket, "list-panes", "-a", "-F", "#{pane_tty} #{pane_id}"}, kToolTimeout);
  if (listing.outcome != ToolRun::Outcome::finished) return false;
  const auto pane = paneWithTTY(listing.output, tty);
  if (!pane) return false;
  const auto sent = launcher_->run(
      tmux_, {"-S", *socket, "send-keys", "-t", *pane, key == AnswerKey::returnKey ? "Enter" : "Escape"},
      kToolTimeout);
  return sent.outcome == ToolRun::Outcome::finished;
}

}  // namespace tovami::linux_backend
