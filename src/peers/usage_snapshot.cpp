#include "peers/usage_snapshot.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

#include "peers/claude_code_peer.h"
#include "peers/json_bounds.h"

namespace tovami {
namespace {

bool digits(std::string_view text, size_t at, size_t count, int& value) {
  if (at + count > text.size()) return false;
  value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

// Days from 1970-01-01 to a proleptic Gregorian date.
long long daysFromCivil(int year, int month, int day) {
  year -= month <= 2;
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(year - era * 400);
  const unsigned doy = static_cast<unsigned>((153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1);
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

int daysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

int percent(const nlohmann::json& body, const char* window) {
  auto it = body.find(window);
  if (it == body.end() || !it->is_object()) return 0;
  auto value = it->find("utilization");
  if (value == it->end() || !value->is_number()) return 0;
  const double rounded = std::round(value->get<double>());  // halves away from zero
  if (!std::isfinite(rounded)) return 0;
  return static_cast<int>(std::clamp(rounded, -1e9, 1e9));
}

std::optional<Seconds> resets(const nlohmann::json& body, const char* window) {
  auto it = body.find(window);
  if (it == body.end() || !it->is_object()) return std::nullopt;
  auto value = it->find("resets_at");
  if (value == it->end() || !value->is_string()) return std::nullopt;
  return parseInternetDateTime(value->get_ref<const std::string&>());
}

}  // namespace

std::optional<Seconds> parseInternetDateTime(std::string_view text) {
  int year, month, day, hour, minute, second;
  if (text.size() < 20 || !digits(text, 0, 4, year) || text[4] != '-' || !digits(text, 5, 2, month) ||
      text[7] != '-' || !digits(text, 8, 2, day) || (text[10] != 'T' && text[10] != 't' && text[10] != ' ') ||
      !digits(text, 11, 2, hour) || text[13] != ':' || !digits(text, 14, 2, minute) || text[16] != ':' ||
      !digits(text, 17, 2, second))
    return std::nullopt;
  if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 || minute > 59 ||
      second > 60)
    return std::nullopt;
  size_t at = 19;
  double fraction = 0;
  if (at < text.size() && text[at] == '.') {
    double scale = 0.1;
    const size_t first = ++at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
      fraction += (text[at] - '0') * scale;
      scale /= 10;
      ++at;
    }
    if (at == first) return std::nullopt;
  }
  int offset = 0;
  if (at < text.size() && (text[at] == 'Z' || text[at] == 'z')) {
    ++at;
  } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    int hours, minutes;
    const int sign = text[at] == '-' ? -1 : 1;
    if (!digits(text, at + 1, 2, hours)) return std::nullopt;
    at += 3;
    if (at < text.size() && text[at] == ':') ++at;
    if (!digits(text, at, 2, minutes) || hours > 23 || minutes > 59) return std::nullopt;
    at += 2;
    offset = sign * (hours * 3600 + minutes * 60);
  } else {
    return std::nullopt;  // a local time without its offset names no single moment
  }
  if (at != text.size()) return std::nullopt;
  if (second == 60) second = 59;  // a leap second reads as the second before it
  const long long days = daysFromCivil(year, month, day);
  return static_cast<Seconds>(days * 86400 + hour * 3600 + minute * 60 + second - offset) + fraction;
}

UsageSnapshot usageSnapshotFrom(const nlohmann::json& body, Seconds now) {
  UsageSnapshot snapshot;
  snapshot.fiveHourPct = percent(body, "five_hour");
  snapshot.fiveHourResets = resets(body, "five_hour");
  snapshot.sevenDayPct = percent(body, "seven_day");
  snapshot.sevenDayResets = resets(body, "seven_day");
  snapshot.fetchedAt = now;
  return snapshot;
}

std::optional<std::string> accessTokenFrom(std::string_view credentialBytes) {
  auto credential = json_bounds::parse(credentialBytes);
  if (!credential.is_object()) return std::nullopt;
  auto oauth = credential.find(claude_code::kCredentialsOAuthKey);
  if (oauth == credential.end() || !oauth->is_object()) return std::nullopt;
  auto token = oauth->find(claude_code::kCredentialsAccessTokenKey);
  if (token == oauth->end() || !token->is_string()) return std::nullopt;
  return token->get<std::string>();
}

namespace {
std::string ago(Seconds age) {
  if (age < 60) return "just now";
  const long long minutes = static_cast<long long>(age / 60);
  if (minutes < 60) return std::to_string(minutes) + "m ago";
  if (minutes < 2880) return std::to_string(minutes / 60) + "h ago";
  return std::to_string(minutes / 1440) + "d ago";
}
}  // namespace

std::string usageCaption(const std::optional<UsageSnapshot>& snapshot, const std::optional<UsageBackoff>& backoff,
                         Seconds now) {
  std::string caption;
  if (snapshot) {
    const std::string age = ago(std::max<Seconds>(0, now - snapshot->fetchedAt));
    caption = snapshot->source == UsageSource::statusLine ? "from Claude Code \u00b7 " + age
              : age == "just now"                         ? age
                                                          : "as of " + age;
  }
  if (backoff) {
    if (!caption.empty()) caption += " \u00b7 ";
    caption += "api.anthropic.com busy (" + std::to_string(backoff->status) + ")";
    const auto wait = resetCountdown(backoff->retryAt, now);
    caption += " \u00b7 next try " + (wait ? "in " + *wait : std::string("soon"));
  }
  return caption;
}

std::optional<Seconds> retryAfterSeconds(std::string_view header) {
  if (header.empty() || header.size() > 9) return std::nullopt;
  Seconds value = 0;
  for (char c : header) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value <= 0) return std::nullopt;
  return value;
}

std::optional<std::string> resetCountdown(std::optional<Seconds> resetsAt, Seconds now) {
  if (!resetsAt) return std::nullopt;
  const Seconds left = *resetsAt - now;
  if (!(left > 0)) return std::nullopt;
  const long long minutes = static_cast<long long>(left / 60);
  if (minutes <= 59) return std::to_string(minutes) + "m";
  if (minutes < 2880) {
    std::string text = std::to_string(minutes / 60) + "h";
    if (minutes % 60 != 0) text += std::to_string(minutes % 60) + "m";
    return text;
  }
  return std::to_string(minutes / 1440) + "d" + std::to_string((minutes / 60) % 24) + "h";
}

}  // namespace tovami
