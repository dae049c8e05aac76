// What Claude Code hands its status line command after each message (since 2.1.80), as the
// wrapper forwards it and the server reads it: the session's model, context use, cost, worktree
// and pull request, and the plan's rate-limit windows. Data for display only: every value is
// checked, and one out of its range is dropped rather than shown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "platform/scheduler.h"

namespace tovami {

// Claude Code's input is a few KB; beyond this the wrapper forwards nothing (the user's command
// still gets every byte).
inline constexpr std::size_t kStatusLineInputLimit = 1u << 20;
// Strings kept from the input, in bytes.
inline constexpr std::size_t kStatusLineTextLimit = 256;
// How many ancestors of the wrapper it names (nearest first): Claude Code runs it through a shell.
inline constexpr std::size_t kStatusLineAncestors = 4;

struct RateWindow {
  double usedPercentage = 0;  // 0-100
  Seconds resetsAt = 0;       // Unix seconds, ahead of the time it was read
  bool operator==(const RateWindow&) const = default;
};

struct StatusLineFeed {
  std::optional<std::string> sessionId, sessionName, cwd;
  std::vector<int32_t> pids;  // the wrapper's parent and its ancestors
  std::optional<std::string> model;
  std::optional<double> contextPercent;  // 0-100
  std::optional<double> costUsd;         // Claude Code's estimate for the session
  std::optional<std::string> branch;     // the worktree's branch, else the git worktree's name
  std::optional<int64_t> pullRequest;
  std::optional<RateWindow> fiveHour, sevenDay;
  Seconds receivedAt = 0;
  bool operator==(const StatusLineFeed&) const = default;
};

// The input's keys that the feed reads, strings cut to kStatusLineTextLimit (the wrapper sends
// only these).
nlohmann::json compactStatusLineInput(const nlohmann::json& input);

// The feed in an envelope's payload (and its "pids"), read at `now`.
StatusLineFeed statusLineFeedFrom(const nlohmann::json& payload, const nlohmann::json* pids, Seconds now);

}  // namespace tovami
