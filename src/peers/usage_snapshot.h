// The plan-usage figures and the texts built from them: parsing the usage body, the reset times
// and the short countdown the meter shows.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

#include "platform/scheduler.h"

namespace tovami {

struct UsageSnapshot {
  int fiveHourPct = 0;
  std::optional<Seconds> fiveHourResets;  // Unix seconds
  int sevenDayPct = 0;
  std::optional<Seconds> sevenDayResets;
  Seconds fetchedAt = 0;

  bool operator==(const UsageSnapshot&) const = default;
};

// An RFC 3339 / ISO 8601 internet date-time ("2026-01-02T19:59:59.600956+00:00", "...Z", any
// number of fraction digits) as Unix seconds; nothing for anything else, a date alone included.
std::optional<Seconds> parseInternetDateTime(std::string_view text);

// The snapshot in a usage body; a missing window counts as 0 % with no reset.
UsageSnapshot usageSnapshotFrom(const nlohmann::json& body, Seconds now);

// The access token in Claude Code's stored credential; nothing when the bytes do not hold one.
std::optional<std::string> accessTokenFrom(std::string_view credentialBytes);

// "45m", "3h12m", "2d0h"; nothing when the reset is absent or past.
std::optional<std::string> resetCountdown(std::optional<Seconds> resetsAt, Seconds now);

}  // namespace tovami
