#include "agents/tmux_servers.h"

#include <algorithm>

#include "agents/process_sampling.h"

namespace tovami {

TmuxServers::TmuxServers(ProcessLauncher& launcher, JumpEnvironment& environment)
    : launcher_(launcher), environment_(environment) {}

std::optional<std::string> TmuxServers::socketOf(int32_t pid) {
  const auto variable = environment_.environmentVariable(pid, "TMUX");
  return variable ? tmux::socketFromEnvironment(*variable) : std::nullopt;
}

std::optional<std::string> TmuxServers::paneIdOf(int32_t pid) {
  return environment_.environmentVariable(pid, "TMUX_PANE");
}

std::vector<std::string> TmuxServers::reachable(const std::optional<std::string>& own) {
  std::vector<std::string> sockets;
  if (own) sockets.push_back(*own);
  for (auto& socket : environment_.tmuxSockets())
    if (std::find(sockets.begin(), sockets.end(), socket) == sockets.end())
      sockets.push_back(std::move(socket));
  return sockets;
}

std::optional<std::string> TmuxServers::run(const std::vector<std::string>& arguments) {
  const auto path = environment_.findExecutable("tmux");
  if (!path) return std::nullopt;
  return runTool(launcher_, *path, arguments, kTmuxTimeoutSeconds);
}

std::optional<tmux::Listing> TmuxServers::list(const std::string& socket) {
  const auto output = run(tmux::listingArguments(socket));
  if (!output) return std::nullopt;
  return tmux::parseListing(*output);
}

}  // namespace tovami
