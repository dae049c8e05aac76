#include "agents/agent_session.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "agents/user_text.h"

namespace tovami {

std::string AgentSession::ageLabel() const {
  const int64_t minutes = std::max<int64_t>(ageMinutes, 0);
  if (minutes < 1) return "now";
  if (minutes < 60) return std::to_string(minutes) + "m";
  if (minutes >= 2880) return std::to_string(minutes / 1440) + "d";
  const int64_t hours = minutes / 60;
  const int64_t rest = minutes % 60;
  if (rest != 0) return std::to_string(hours) + "h " + std::to_string(rest) + "m";
  return std::to_string(hours) + "h";
}

bool AgentSession::hasSnippet() const {
  return context && (context->youLine || context->replyLine);
}

WorkingFolder workingFolder(std::string reported) {
  constexpr std::string_view kDeletedMarker = " (deleted)";
  std::error_code error;
  if (!reported.ends_with(kDeletedMarker) || std::filesystem::exists(reported, error))
    return {std::move(reported), false};
  reported.resize(reported.size() - kDeletedMarker.size());
  return {std::move(reported), true};
}

std::string agentProjectName(const std::optional<std::string>& projectPath, const std::string& agentName) {
  std::string name;
  if (projectPath) {
    // "/a/b/" names "b", as the last path component of a folder does.
    std::filesystem::path path(*projectPath);
    if (!path.has_filename()) path = path.parent_path();
    name = path.filename().string();
  } else {
    name = agentName;
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return c < 0x80 ? char(std::tolower(c)) : char(c); });
  }
  if (name.empty() || name == "/") return "~";
  return name;
}

std::string agentSessionName(const std::optional<ConversationSummary>& conversation,
                             const std::optional<std::string>& statusName, const std::string& projectName) {
  if (conversation && conversation->customTitle) return *conversation->customTitle;
  if (conversation && conversation->generatedTitle) return *conversation->generatedTitle;
  if (statusName) {
    std::string name = claude_transcript::clean(user_text::trimWhitespace(*statusName));
    if (!name.empty()) return name;
  }
  return projectName;
}

std::string agentStateLabel(const AgentSession& session) {
  if (session.waitingFor) return "needs you";
  return session.activity == AgentActivity::quiet ? "idle" : "working";
}

std::string agentMenuTitle(const AgentSession& session) {
  const std::string agent = session.agentName == "Claude Code" ? "Claude" : session.agentName;
  std::string title = session.projectName;
  if (session.sessionName && !session.sessionName->empty() && *session.sessionName != session.projectName)
    title += " \u00b7 " + *session.sessionName;
  title += " \u2014 " + agent + " \u00b7 " + agentStateLabel(session);
  if (session.details)
    if (const auto details = sessionDetailsLine(*session.details); !details.empty()) title += " \u00b7 " + details;
  return title;
}

bool AgentWatchState::anyWorking() const {
  return std::any_of(sessions_.begin(), sessions_.end(),
                     [](const AgentSession& s) { return s.activity == AgentActivity::working; });
}

void AgentWatchState::setSessions(std::vector<AgentSession> sessions) {
  statusLines_.bind(sessions);
  if (sessions == sessions_) return;
  sessions_ = std::move(sessions);
  notify();
}

void AgentWatchState::addStatusLine(StatusLineFeed feed) {
  if (!statusLines_.add(std::move(feed))) return;
  auto sessions = sessions_;
  statusLines_.bind(sessions);
  if (sessions == sessions_) return;
  sessions_ = std::move(sessions);
  notify();
}

void AgentWatchState::setNapWhenIdleArmed(bool armed) {
  if (armed == napWhenIdleArmed_) return;
  napWhenIdleArmed_ = armed;
  notify();
}

int AgentWatchState::addObserver(Observer observer) {
  observers_[nextToken_] = std::move(observer);
  return nextToken_++;
}

void AgentWatchState::removeObserver(int token) {
  observers_.erase(token);
}

void AgentWatchState::notify() {
  // A copy, so that an observer may remove itself.
  for (auto& [token, observer] : std::map<int, Observer>(observers_)) observer();
}

}  // namespace tovami
