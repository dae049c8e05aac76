#include "agents/codex_rollout.h"

#include <charconv>
#include <chrono>

#include "agents/claude_transcript_parsing.h"
#include "agents/user_text.h"
#include "peers/codex_peer.h"
#include "peers/json_bounds.h"

namespace tovami::codex_rollout {
namespace {

using log_lines::member;
using log_lines::stringMember;
using nlohmann::json;
namespace keys = codex::rollout_keys;

constexpr std::string_view kActivitySeparator = " \u2014 ";

std::optional<std::string> visible(const std::string* text) {
  if (text == nullptr) return std::nullopt;
  const std::string_view trimmed = user_text::trimWhitespace(*text);
  if (trimmed.empty() || trimmed.front() == '<') return std::nullopt;  // injected context markup
  return claude_transcript::clean(trimmed);
}

// The first visible text item of a response item's content.
std::optional<std::string> contentText(const json& payload) {
  const json* content = member(payload, keys::kContent);
  if (content == nullptr || !content->is_array()) return std::nullopt;
  for (const json& item : *content)
    if (auto text = visible(stringMember(item, keys::kText))) return text;
  return std::nullopt;
}

void prompt(std::optional<std::string> text, ConversationSummary& summary) {
  if (!text) return;
  if (!summary.title) summary.title = text;
  summary.youLine = std::move(text);
  summary.replyLine.reset();
}

void reply(std::optional<std::string> text, ConversationSummary& summary) {
  if (text) summary.replyLine = std::move(text);
}

// "shell" with {"command": ["bash", "-lc", "make test"]} -> "shell — make test".
std::optional<std::string> callActivity(const json& payload) {
  const std::string* name = stringMember(payload, keys::kName);
  if (name == nullptr) return std::nullopt;
  std::string text = *name;
  if (const std::string* arguments = stringMember(payload, keys::kArguments)) {
    const json parsed = json_bounds::parse(*arguments);
    const json* command = member(parsed, "command");
    if (command != nullptr && command->is_array() && !command->empty() && command->back().is_string())
      text.append(kActivitySeparator).append(command->back().get_ref<const std::string&>());
    else if (command != nullptr && command->is_string())
      text.append(kActivitySeparator).append(command->get_ref<const std::string&>());
  }
  return claude_transcript::clean(text);
}

void applyRecord(const json& record, ConversationSummary& summary) {
  const std::string* type = stringMember(record, keys::kType);
  const json* payload = member(record, keys::kPayload);
  if (type == nullptr || payload == nullptr || !payload->is_object()) return;
  const std::string* kind = stringMember(*payload, keys::kType);
  if (*type == keys::kTurnContext) {
    if (const std::string* model = stringMember(*payload, keys::kModel); model && !model->empty())
      summary.modelName = claude_transcript::clean(*model);
  } else if (*type == keys::kEventMessage && kind != nullptr) {
    if (*kind == keys::kUserMessage) prompt(visible(stringMember(*payload, keys::kMessage)), summary);
    if (*kind == keys::kAgentMessage) reply(visible(stringMember(*payload, keys::kMessage)), summary);
  } else if (*type == keys::kResponseItem && kind != nullptr) {
    if (*kind == keys::kMessage) {
      const std::string* role = stringMember(*payload, keys::kRole);
      if (role != nullptr && *role == "user") prompt(contentText(*payload), summary);
      if (role != nullptr && *role == "assistant") reply(contentText(*payload), summary);
    } else if (*kind == keys::kFunctionCall) {
      if (auto activity = callActivity(*payload)) summary.activityLine = std::move(activity);
    }
  }
}

template <typename T>
bool number(std::string_view text, T& value) {
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::optional<Seconds> isoSeconds(std::string_view text) {
  // YYYY-MM-DDTHH:MM:SS[.fff](Z|+HH:MM|-HH:MM)
  if (text.size() < 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':')
    return std::nullopt;
  int year = 0;
  unsigned month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!number(text.substr(0, 4), year) || !number(text.substr(5, 2), month) ||
      !number(text.substr(8, 2), day) || !number(text.substr(11, 2), hour) ||
      !number(text.substr(14, 2), minute) || !number(text.substr(17, 2), second))
    return std::nullopt;
  const std::chrono::year_month_day date{std::chrono::year(year), std::chrono::month(month),
                                         std::chrono::day(day)};
  if (!date.ok() || hour > 23 || minute > 59 || second > 60) return std::nullopt;
  std::size_t at = 19;
  double fraction = 0;
  if (at < text.size() && text[at] == '.') {
    double scale = 0.1;
    for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, scale /= 10)
      fraction += (text[at] - '0') * scale;
  }
  double offset = 0;
  const std::string_view zone = text.substr(at);
  if (zone.size() == 6 && (zone[0] == '+' || zone[0] == '-') && zone[3] == ':') {
    unsigned hours = 0, minutes = 0;
    if (!number(zone.substr(1, 2), hours) || !number(zone.substr(4, 2), minutes)) return std::nullopt;
    offset = (zone[0] == '+' ? 1 : -1) * (hours * 3600.0 + minutes * 60.0);
  } else if (zone != "Z") {
    return std::nullopt;
  }
  const auto days = std::chrono::sys_days(date).time_since_epoch().count();
  return static_cast<double>(days) * 86400.0 + hour * 3600.0 + minute * 60.0 + second + fraction - offset;
}

std::optional<SessionMeta> sessionMeta(std::string_view firstLine) {
  const auto records = log_lines::objectsIn(firstLine.substr(0, firstLine.find('\n')));
  if (records.empty()) return std::nullopt;
  const std::string* type = stringMember(records.front(), keys::kType);
  const json* payload = member(records.front(), keys::kPayload);
  if (type == nullptr || *type != keys::kSessionMeta || payload == nullptr) return std::nullopt;
  const std::string* id = stringMember(*payload, keys::kId);
  if (id == nullptr || id->empty() || id->size() > 128) return std::nullopt;
  SessionMeta meta{*id, std::nullopt, std::nullopt};
  if (const std::string* cwd = stringMember(*payload, keys::kCwd)) meta.cwd = *cwd;
  if (const std::string* time = stringMember(*payload, keys::kTimestamp)) meta.startedAt = isoSeconds(*time);
  return meta;
}

void apply(const log_lines::Chunk& chunk, ConversationSummary& summary) {
  applyRecordChunk(chunk, summary, applyRecord);
}

}  // namespace tovami::codex_rollout
