#include "agents/agent_listing.h"

#include <utf8proc.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string_view>

namespace tovami {
namespace {

// Characters that change how the report reads on a terminal: controls (a line feed breaks the
// one-line-per-field layout, a C1 U+009B starts an escape sequence), the bidirectional marks,
// overrides and isolates (a folder named with U+202E shows reversed) and the line separators.
bool disruptive(utf8proc_int32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
         (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x2028 || c == 0x2029;
}

// Calls `each(character, its bytes)` for every character of `text`; a byte that is not UTF-8
// comes as -1 with itself.
template <typename Each>
void forEachCharacter(std::string_view text, Each each) {
  for (size_t i = 0; i < text.size();) {
    utf8proc_int32_t c = -1;
    auto used = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data() + i),
                                 utf8proc_ssize_t(text.size() - i), &c);
    if (used <= 0) used = 1, c = -1;
    each(c, text.substr(i, size_t(used)));
    i += size_t(used);
  }
}

std::string printable(std::string_view text) {
  std::string out;
  forEachCharacter(text, [&out](utf8proc_int32_t c, std::string_view bytes) {
    if (c >= 0 && disruptive(c))
      out += '?';
    else
      out += bytes;
  });
  return out;
}

// The JSON text with disruptive characters written as \u escapes: the library escapes those
// below U+0020 itself and leaves the others raw. Outside strings JSON has only ASCII (white
// space included), so every one from U+007F on is inside a string.
std::string escapeDisruptive(std::string_view json) {
  std::string out;
  forEachCharacter(json, [&out](utf8proc_int32_t c, std::string_view bytes) {
    if (c < 0x7F || !disruptive(c)) {
      out += bytes;
      return;
    }
    char escape[16];
    std::snprintf(escape, sizeof escape, "\\u%04x", unsigned(c));  // all are in the first plane
    out += escape;
  });
  return out;
}

template <typename T>
nlohmann::json orNull(const std::optional<T>& value) {
  return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

nlohmann::json transcriptJSON(const std::optional<ClaudeSessionInfo>& info) {
  if (!info) return nullptr;
  return {{"title", orNull(info->title)},           {"you", orNull(info->youLine)},
          {"reply", orNull(info->replyLine)},       {"model", orNull(info->modelName)},
          {"activity", orNull(info->activityLine)}, {"updatedAt", orNull(info->updatedAt)}};
}

nlohmann::json detailsJSON(const std::optional<SessionDetails>& details) {
  if (!details) return nullptr;
  return {{"model", orNull(details->model)},         {"contextPercent", orNull(details->contextPercent)},
          {"costUsd", orNull(details->costUsd)},     {"branch", orNull(details->branch)},
          {"pullRequest", orNull(details->pullRequest)}, {"updatedAt", details->updatedAt}};
}

// A row of another machine is shown tagged ("devbox · api"); its JSON has the host's own name and
// the host in a field of its own.
std::string ownName(const AgentSession& s, const std::string& name) {
  const std::string tag = s.host ? *s.host + " \u00b7 " : std::string();
  return s.host && name.starts_with(tag) ? name.substr(tag.size()) : name;
}

nlohmann::json sessionJSON(const AgentSession& s) {
  return {{"id", orNull(s.sessionId)},
          {"name", ownName(s, s.sessionName.value_or(s.projectName))},
          {"waitingFor", orNull(s.waitingFor)}};
}

std::string listJSON(const std::vector<AgentSession>& sessions) {
  nlohmann::json list = nlohmann::json::array();
  for (const auto& s : sessions) {
    list.push_back({{"pid", s.pid},
                    {"agent", s.agentName},
                    {"project", ownName(s, s.projectName)},
                    {"projectPath", orNull(s.projectPath)},
                    {"terminal", orNull(s.terminalName)},
                    {"terminalPid", orNull(s.terminalPID)},
                    {"tty", orNull(s.terminalTTY)},
                    {"startedAt", s.startedAt},
                    {"ageMinutes", s.ageMinutes},
                    {"age", s.ageLabel()},
                    {"transcript", transcriptJSON(s.context)},
                    {"session", sessionJSON(s)},
                    {"statusLine", detailsJSON(s.details)}});
    if (s.host) list.back()["host"] = *s.host;
  }
  return escapeDisruptive(list.dump(2, ' ', false, nlohmann::json::error_handler_t::replace)) + "\n";
}

std::string listText(const std::vector<AgentSession>& sessions) {
  if (sessions.empty()) return "No coding agents are running.\n";
  std::string out;
  for (const auto& s : sessions) {
    out += std::to_string(s.pid) + "  " + printable(s.agentName) + "  " + printable(s.projectName);
    if (s.projectPath) out += "  (" + printable(*s.projectPath) + ")";
    out += "\n    terminal: ";
    out += s.terminalName ? printable(*s.terminalName) : "unknown";
    if (s.terminalPID) out += " (pid " + std::to_string(*s.terminalPID) + ")";
    out += "  tty: " + (s.terminalTTY ? printable(*s.terminalTTY) : std::string("none"));
    out += "  age: " + s.ageLabel() + "\n";
    if (s.sessionName && *s.sessionName != s.projectName)
      out += "    session: " + printable(*s.sessionName) + "\n";
    if (s.waitingFor) out += "    needs you: " + printable(*s.waitingFor) + "\n";
    if (s.details) out += "    status line: " + printable(sessionDetailsLine(*s.details)) + "\n";
    if (const auto& c = s.context) {
      const std::pair<const char*, const std::optional<std::string>*> lines[] = {{"title", &c->title},
                                                                                 {"you", &c->youLine},
                                                                                 {"reply", &c->replyLine},
                                                                                 {"model", &c->modelName},
                                                                                 {"tool", &c->activityLine}};
      for (const auto& [label, value] : lines)
        if (*value) out += std::string("    ") + label + ": " + printable(**value) + "\n";
    }
  }
  return out;
}

}  // namespace

std::optional<AgentListFormat> parseAgentListFormat(std::string_view value) {
  if (value == "text") return AgentListFormat::text;
  if (value == "json") return AgentListFormat::json;
  return std::nullopt;
}

std::string formatAgentList(const std::vector<AgentSession>& sessions, AgentListFormat format) {
  return format == AgentListFormat::json ? listJSON(sessions) : listText(sessions);
}

}  // namespace tovami
