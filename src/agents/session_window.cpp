#include "agents/session_window.h"

#include <algorithm>
#include <string>
#include <string_view>

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

// Terminals that show one session per window: no tabs to pick the wrong one from.
constexpr std::string_view kTablessTerminals[] = {"xterm", "urxvt",     "rxvt",           "foot",
                                                  "st",    "Alacritty", "cool-retro-term"};

bool names(const std::string& title, const std::optional<std::string>& word) {
  return word && word->size() >= 3 && title.find(*word) != std::string::npos;
}

}  // namespace

bool windowShowsSession(const TopLevelWindow& window, const AgentSession& session) {
  if (session.terminalName && std::find(std::begin(kTablessTerminals), std::end(kTablessTerminals),
                                        *session.terminalName) != std::end(kTablessTerminals))
    return true;
  return names(window.title, session.sessionName) || names(window.title, session.projectName);
}

std::optional<uint64_t> sessionWindowAmong(const std::vector<TopLevelWindow>& windows,
                                           const AgentSession& session) {
  if (windows.size() == 1) return windows.front().id;
  if (session.sessionName)
    if (auto window = onlyTitled(windows, *session.sessionName)) return window;
  return onlyTitled(windows, session.projectName);
}

}  // namespace tovami
