// The plan-usage figures and the texts built from them: parsing the usage body, the reset times
// and the short countdown the meter shows.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

#include "platform/scheduler.h"

namespace tovami {

enum class UsageSource { endpoint, statusLine };

struct UsageSnapshot {
  int fiveHourPct = 0;
  std::optional<Seconds> fiveHourResets;  // Unix seconds
  int sevenDayPct = 0;
  std::optional<Seconds> sevenDayResets;
  Seconds fetchedAt = 0;  // when the figures were current: the fetch, or the newest status line input
  UsageSource source = UsageSource::endpoint;

  bool operator==(const UsageSnapshot&) const = default;
};

// The endpoint refused (429) or failed (5xx): it is asked again only at `retryAt` (Unix seconds).
struct UsageBackoff {
  long status = 0;
  Seconds retryAt = 0;
  bool operator==(const UsageBackoff&) const = default;
};

// The meter's caption: where the figures come from and how fresh they are ("from Claude Code ·
// 2m ago"), and while the endpoint backs off, that too ("api.anthropic.com busy (429) · next try
// in 20m"); empty with neither.
std::string usageCaption(const std::optional<UsageSnapshot>& snapshot, const std::optional<UsageBackoff>& backoff,
                         Seconds now);

// Retry-After in seconds when it is a positive number of them; nothing otherwise (an HTTP date,
// 0, garbage).
std::optional<Seconds> retryAfterSeconds(std::string_view header);

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
