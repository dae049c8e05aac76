#include "agents/terminal_resolution.h"

#include <string_view>

namespace tovami {
namespace {

bool isPythonInterpreter(std::string_view name) {
  return name == "python" || name == "python3" || name.starts_with("python3.");
}

// Name of the second space-delimited piece when it is a script path, not a flag.
std::optional<std::string> scriptName(std::string_view args) {
  const size_t first = args.find_first_not_of(' ');
  if (first == std::string_view::npos) return std::nullopt;
  const size_t gap = args.find(' ', first);
  if (gap == std::string_view::npos) return std::nullopt;
  const std::string_view rest = args.substr(gap);
  const size_t second = rest.find_first_not_of(' ');
  if (second == std::string_view::npos || rest[second] == '-') return std::nullopt;
  return executableName(rest.substr(second));
}

}  // namespace

const TerminalApp* terminalAppFor(const std::string& executable) {
  for (const auto& row : kTerminalApps) {
    if (row.exact ? executable == row.executablePrefix : executable.starts_with(row.executablePrefix))
      return &row;
  }
  return nullptr;
}

std::optional<TerminalMatch> resolveTerminal(int32_t pid, const ProcessMap& byPid,
                                             RunningApplications& apps) {
  const auto agent = byPid.find(pid);
  if (agent == byPid.end() || agent->second.ppid < 2) return std::nullopt;
  int32_t current = agent->second.ppid;
  for (int examined = 0; examined < kMaxAncestorGenerations; ++examined) {
    const auto row = byPid.find(current);
    if (row == byPid.end()) return std::nullopt;
    const std::string name = executableName(row->second.args);
    const TerminalApp* match = terminalAppFor(name);
    if (!match && isPythonInterpreter(name)) {
      if (const auto script = scriptName(row->second.args)) match = terminalAppFor(*script);
    }
    if (match) return TerminalMatch{match->terminalName, terminalAppPID(current, byPid, apps)};
    if (row->second.ppid < 2) return std::nullopt;
    current = row->second.ppid;
  }
  return std::nullopt;
}

int32_t terminalAppPID(int32_t pid, const ProcessMap& byPid, RunningApplications& apps) {
  int32_t candidate = pid;
  int32_t current = pid;
  for (int step = 0; step < kMaxApplicationWalk; ++step) {
    const auto row = byPid.find(current);
    if (row == byPid.end() || row->second.ppid < 2) break;
    current = row->second.ppid;
    if (apps.isRegisteredApplication(current)) candidate = current;
  }
  return apps.isRegisteredApplication(pid) ? pid : candidate;
}

}  // namespace tovami
