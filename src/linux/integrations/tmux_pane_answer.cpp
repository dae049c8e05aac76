#include "linux/integrations/tmux_pane_answer.h"

#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

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

bool paneShowsPermissionPrompt(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);)
    if (line.find_first_not_of(" \t\r") != std::string::npos) lines.push_back(line);
  // The prompt sits at the bottom of the screen; an old one scrolled up does not count.
  const size_t first = lines.size() > 14 ? lines.size() - 14 : 0;
  bool yes = false, no = false;
  for (size_t i = first; i < lines.size(); ++i) {
    const auto& line = lines[i];
    yes = yes || line.find("1. Yes") != std::string::npos;
    no = no || line.find(". No") != std::string::npos || line.find("Esc to cancel") != std::string::npos;
  }
  return yes && no;
}

TmuxPaneAnswer::TmuxPaneAnswer(std::shared_ptr<ProcessLauncher> launcher, std::string procRoot)
    : launcher_(std::move(launcher)), procRoot_(std::move(procRoot)) {
  for (const char* path : {"/usr/bin/tmux", "/bin/tmux", "/usr/local/bin/tmux"})
    if (::access(path, X_OK) == 0) {
      tmux_ = path;
      break;
    }
}

PaneAnswer::Outcome TmuxPaneAnswer::sendKey(const AgentSession& session, AnswerKey key) {
  if (tmux_.empty() || !session.terminalTTY || session.pid <= 0) return Outcome::notInPane;
  std::ifstream file(procRoot_ + "/" + std::to_string(session.pid) + "/environ", std::ios::binary);
  const std::string environ((std::istreambuf_iterator<char>(file)), {});
  const auto socket = tmuxSocketFromEnvironment(environ);
  if (!socket) return Outcome::notInPane;
  const std::string tty =
      session.terminalTTY->rfind("/dev/", 0) == 0 ? *session.terminalTTY : "/dev/" + *session.terminalTTY;
  const auto listing = launcher_->run(
      tmux_, {"-S", *socket, "list-panes", "-a", "-F", "#{pane_tty} #{pane_id}"}, kToolTimeout);
  if (listing.outcome != ToolRun::Outcome::finished) return Outcome::notInPane;
  const auto pane = paneWithTTY(listing.output, tty);
  if (!pane) return Outcome::notInPane;
  // The prompt may have been answered in the pane since the card appeared: look before typing.
  const auto visible = launcher_->run(tmux_, {"-S", *socket, "capture-pane", "-p", "-t", *pane}, kToolTimeout);
  if (visible.outcome != ToolRun::Outcome::finished) return Outcome::failed;
  if (!paneShowsPermissionPrompt(visible.output)) return Outcome::noPrompt;
  const auto sent = launcher_->run(
      tmux_, {"-S", *socket, "send-keys", "-t", *pane, key == AnswerKey::returnKey ? "Enter" : "Escape"},
      kToolTimeout);
  return sent.outcome == ToolRun::Outcome::finished ? Outcome::sent : Outcome::failed;
}

}  // namespace tovami::linux_backend
