#include "integrations/session_window.h"

#include <string>

namespace tovami {
namespace {

// The one window whose title contains `word`; nothing when none or several do.
std::optional<uint64_t> onlyTitled(const std::vector<TopLevelWindow>& windows, const std::string& word) {
  if (word.size() < 3) return std::nullopt;  // too short to tell windows apart
  std::optional<uint64_t> found;
  for (const auto& window : windows)
    if (window.title.find(word) != std::string::npos) {
      if (found) return std::nullopt;
      found = window.id;
    }
  return found;
}

}  // namespace

std::optional<uint64_t> sessionWindowAmong(const std::vector<TopLevelWindow>& windows, const AgentSession& session) {
  if (windows.size() == 1) return windows.front().id;
  if (session.sessionName)
    if (auto window = onlyTitled(windows, *session.sessionName)) return window;
  return onlyTitled(windows, session.projectName);
}

}  // namespace tovami
