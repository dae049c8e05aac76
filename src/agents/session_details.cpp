#include "agents/session_details.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "agents/agent_session.h"
#include "agents/claude_transcript_parsing.h"
#include "agents/user_text.h"
#include "peers/json_bounds.h"

namespace tovami {
namespace {

using nlohmann::json;

// Shorter than a row's snippet: the details share one line.
constexpr std::size_t kDetailCharacters = 40;
constexpr std::size_t kFileLimit = 1u << 20;

std::optional<std::string> cleaned(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  std::string line = claude_transcript::clean(user_text::trimWhitespace(*text));
  line = std::string(user_text::trimWhitespace(line));
  if (line.empty()) return std::nullopt;
  const auto prefix = user_text::prefixCharacters(line, kDetailCharacters);
  if (prefix.size() < line.size()) return std::string(prefix) + "\u2026";
  return line;
}

bool sameButTime(StatusLineFeed a, const StatusLineFeed& b) {
  a.receivedAt = b.receivedAt;
  return a == b;
}

// The feed in the shape Claude Code writes, so that statusLineFeedFrom() reads it back.
json feedJson(const StatusLineFeed& feed) {
  json object = {{"received_at", feed.receivedAt}, {"pids", feed.pids}};
  auto put = [&object](const char* key, const auto& value) {
    if (value) object[key] = *value;
  };
  put("session_id", feed.sessionId);
  put("session_name", feed.sessionName);
  put("cwd", feed.cwd);
  if (feed.model) object["model"]["display_name"] = *feed.model;
  if (feed.contextPercent) object["context_window"]["used_percentage"] = *feed.contextPercent;
  if (feed.costUsd) object["cost"]["total_cost_usd"] = *feed.costUsd;
  if (feed.branch) object["worktree"]["branch"] = *feed.branch;
  if (feed.pullRequest) object["pr"]["number"] = *feed.pullRequest;
  for (const auto& [name, window] : {std::pair{"five_hour", &feed.fiveHour}, std::pair{"seven_day", &feed.sevenDay}})
    if (*window)
      object["rate_limits"][name] = {{"used_percentage", (*window)->usedPercentage},
                                     {"resets_at", (*window)->resetsAt}};
  return object;
}

}  // namespace

SessionDetails sessionDetailsFrom(const StatusLineFeed& feed) {
  SessionDetails details;
  details.model = cleaned(feed.model);
  if (feed.contextPercent) details.contextPercent = static_cast<int>(std::lround(*feed.contextPercent));
  details.costUsd = feed.costUsd;
  details.branch = cleaned(feed.branch);
  details.pullRequest = feed.pullRequest;
  details.updatedAt = feed.receivedAt;
  return details;
}

std::string sessionDetailsLine(const SessionDetails& details) {
  std::vector<std::string> parts;
  if (details.model) parts.push_back(*details.model);
  if (details.contextPercent) parts.push_back(std::to_string(*details.contextPercent) + " % context");
  if (details.costUsd) {
    char cost[32];
    std::snprintf(cost, sizeof cost, "$%.2f", *details.costUsd);
    parts.emplace_back(cost);
  }
  if (details.branch) parts.push_back(*details.branch);
  if (details.pullRequest) parts.push_back("PR #" + std::to_string(*details.pullRequest));
  std::string line;
  for (const auto& part : parts) line += (line.empty() ? "" : " \u00b7 ") + part;
  return line;
}

bool StatusLineSessions::add(StatusLineFeed feed) {
  auto same = std::find_if(feeds_.begin(), feeds_.end(), [&feed](const StatusLineFeed& held) {
    return feed.sessionId ? held.sessionId == feed.sessionId : !held.sessionId && held.pids == feed.pids;
  });
  bool changed = true;
  if (same != feeds_.end()) {
    changed = !sameButTime(*same, feed);
    feeds_.erase(same);
  }
  feeds_.push_back(std::move(feed));
  if (feeds_.size() > kMaxSessions) feeds_.erase(feeds_.begin());
  return changed;
}

void StatusLineSessions::bind(std::vector<AgentSession>& sessions) const {
  for (auto& session : sessions) {
    const StatusLineFeed* own = nullptr;
    for (const auto& feed : feeds_)  // newest last: the latest match wins
      if (session.sessionId && feed.sessionId == session.sessionId) own = &feed;
    if (!own)
      for (const auto& feed : feeds_) {
        const bool under = std::find(feed.pids.begin(), feed.pids.end(), session.pid) != feed.pids.end();
        // A feed of another session of this process (one the rows know by its id) is not this row's.
        const bool known = feed.sessionId && std::any_of(sessions.begin(), sessions.end(), [&feed](const auto& s) {
                             return s.sessionId == feed.sessionId;
                           });
        if (under && !known && (!session.sessionId || !feed.sessionId)) own = &feed;
      }
    if (own)
      session.details = sessionDetailsFrom(*own);
    else
      session.details.reset();
  }
}

std::string StatusLineSessions::serialized() const {
  json list = json::array();
  for (const auto& feed : feeds_) list.push_back(feedJson(feed));
  return list.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

StatusLineSessions StatusLineSessions::parsed(std::string_view text, Seconds now) {
  StatusLineSessions sessions;
  if (text.size() > kFileLimit) return sessions;
  const json list = json_bounds::parse(text);
  if (!list.is_array()) return sessions;
  for (const auto& object : list) {
    if (!object.is_object()) continue;
    const auto pids = object.find("pids");
    auto feed = statusLineFeedFrom(object, pids == object.end() ? nullptr : &*pids, now);
    const auto at = object.find("received_at");
    if (at == object.end() || !at->is_number() || !std::isfinite(at->get<double>())) continue;
    feed.receivedAt = at->get<double>();
    sessions.add(std::move(feed));
  }
  return sessions;
}

}  // namespace tovami
