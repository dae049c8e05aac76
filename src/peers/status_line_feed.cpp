#include "peers/status_line_feed.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace tovami {
namespace {

using nlohmann::json;

// A reset further ahead than the longest window is no window's.
constexpr Seconds kLongestWindow = 8 * 24 * 3600.0;

std::string cut(const std::string& text) {
  if (text.size() <= kStatusLineTextLimit) return text;
  std::size_t end = kStatusLineTextLimit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

const json* member(const json& object, const char* key) {
  if (!object.is_object()) return nullptr;
  auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

const json* path(const json& object, std::initializer_list<const char*> keys) {
  const json* at = &object;
  for (const char* key : keys)
    if (!(at = member(*at, key))) return nullptr;
  return at;
}

std::optional<std::string> text(const json& object, std::initializer_list<const char*> keys) {
  const json* value = path(object, keys);
  if (!value || !value->is_string() || value->get_ref<const std::string&>().empty()) return std::nullopt;
  return cut(value->get<std::string>());
}

std::optional<double> number(const json& object, std::initializer_list<const char*> keys, double low, double high) {
  const json* value = path(object, keys);
  if (!value || !value->is_number()) return std::nullopt;
  const double number = value->get<double>();
  if (!std::isfinite(number) || number < low || number > high) return std::nullopt;
  return number;
}

std::optional<RateWindow> window(const json& payload, const char* name, Seconds now) {
  const auto used = number(payload, {"rate_limits", name, "used_percentage"}, 0, 100);
  const auto resets = number(payload, {"rate_limits", name, "resets_at"}, now, now + kLongestWindow);
  if (!used || !resets || *resets <= now) return std::nullopt;
  return RateWindow{*used, *resets};
}

// Copies the listed keys of `from` (strings cut, numbers as they are, objects by their own list).
struct Keep {
  const char* key;
  std::vector<Keep> inner;
};

void copyKept(const json& from, json& to, const std::vector<Keep>& keys) {
  for (const auto& keep : keys) {
    const json* value = member(from, keep.key);
    if (!value) continue;
    if (!keep.inner.empty()) {
      if (!value->is_object()) continue;
      json inner = json::object();
      copyKept(*value, inner, keep.inner);
      if (!inner.empty()) to[keep.key] = std::move(inner);
    } else if (value->is_string()) {
      to[keep.key] = cut(value->get<std::string>());
    } else if (value->is_number()) {
      to[keep.key] = *value;
    }
  }
}

}  // namespace

json compactStatusLineInput(const json& input) {
  static const std::vector<Keep> kKept = {
      {"session_id", {}},
      {"session_name", {}},
      {"cwd", {}},
      {"model", {{"id", {}}, {"display_name", {}}}},
      {"workspace", {{"current_dir", {}}, {"project_dir", {}}, {"git_worktree", {}}}},
      {"worktree", {{"name", {}}, {"branch", {}}}},
      {"pr", {{"number", {}}}},
      {"cost", {{"total_cost_usd", {}}}},
      {"context_window", {{"used_percentage", {}}}},
      {"rate_limits",
       {{"five_hour", {{"used_percentage", {}}, {"resets_at", {}}}},
        {"seven_day", {{"used_percentage", {}}, {"resets_at", {}}}}}},
  };
  json compact = json::object();
  copyKept(input, compact, kKept);
  return compact;
}

StatusLineFeed statusLineFeedFrom(const json& payload, const json* pids, Seconds now) {
  StatusLineFeed feed;
  feed.receivedAt = now;
  feed.sessionId = text(payload, {"session_id"});
  feed.sessionName = text(payload, {"session_name"});
  feed.cwd = text(payload, {"cwd"});
  feed.model = text(payload, {"model", "display_name"});
  if (!feed.model) feed.model = text(payload, {"model", "id"});
  feed.contextPercent = number(payload, {"context_window", "used_percentage"}, 0, 100);
  feed.costUsd = number(payload, {"cost", "total_cost_usd"}, 0, 1e6);
  feed.branch = text(payload, {"worktree", "branch"});
  if (!feed.branch) feed.branch = text(payload, {"workspace", "git_worktree"});
  if (const auto pr = number(payload, {"pr", "number"}, 1, 1e12); pr && std::floor(*pr) == *pr)
    feed.pullRequest = static_cast<int64_t>(*pr);
  feed.fiveHour = window(payload, "five_hour", now);
  feed.sevenDay = window(payload, "seven_day", now);
  if (pids && pids->is_array())
    for (const auto& pid : *pids) {
      if (feed.pids.size() == kStatusLineAncestors) break;
      if (pid.is_number_integer() && pid.get<int64_t>() > 1 && pid.get<int64_t>() <= INT32_MAX)
        feed.pids.push_back(static_cast<int32_t>(pid.get<int64_t>()));
    }
  return feed;
}

}  // namespace tovami
