// A session's details from Claude Code's status line (model, context, cost, branch, pull
// request), bound to the row of the very session that reported them, and the few recent feeds
// the desktop keeps for the rows and for "--list-agents".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "peers/status_line_feed.h"
#include "platform/scheduler.h"

namespace tovami {

struct AgentSession;

struct SessionDetails {
  std::optional<std::string> model;  // cleaned, cut
  std::optional<int> contextPercent;
  std::optional<double> costUsd;
  std::optional<std::string> branch;  // cleaned, cut
  std::optional<int64_t> pullRequest;
  Seconds updatedAt = 0;
  bool operator==(const SessionDetails&) const = default;
};

SessionDetails sessionDetailsFrom(const StatusLineFeed& feed);

// "Opus 4.6 · 43 % context · $1.20 · feature-albums · PR #12", the parts there are.
std::string sessionDetailsLine(const SessionDetails& details);

// The latest feed of each session, at most kMaxSessions (the oldest goes first). Main thread.
class StatusLineSessions {
 public:
  static constexpr std::size_t kMaxSessions = 64;

  // False when it changed nothing (the same as the session's last feed, but for its time).
  bool add(StatusLineFeed feed);
  const std::vector<StatusLineFeed>& feeds() const { return feeds_; }

  // Each session gets the details of its own feed: the one with its session id, else (the feed
  // names no session the rows know) the one whose wrapper runs under the session's process, unless
  // that process is known to hold another session. Details of no feed are cleared.
  void bind(std::vector<AgentSession>& sessions) const;

  // The runtime file "--list-agents" reads: the feeds as JSON text, and back (bounded; anything
  // unreadable is no feed).
  std::string serialized() const;
  static StatusLineSessions parsed(std::string_view text, Seconds now);

 private:
  std::vector<StatusLineFeed> feeds_;  // oldest first
};

}  // namespace tovami
