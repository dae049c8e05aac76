#include "agents/agent_listing.h"

#include <nlohmann/json.hpp>

namespace tovami {
namespace {

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

nlohmann::json sessionJSON(const AgentSession& s) {
  return {{"id", orNull(s.sessionId)},
          {"name", s.sessionName.value_or(s.projectName)},
          {"waitingFor", orNull(s.waitingFor)}};
}

std::string listJSON(const std::vector<AgentSession>& sessions) {
  nlohmann::json list = nlohmann::json::array();
  for (const auto& s : sessions) {
    list.push_back({{"pid", s.pid},
                    {"agent", s.agentName},
                    {"project", s.projectName},
                    {"projectPath", orNull(s.projectPath)},
                    {"terminal", orNull(s.terminalName)},
                    {"terminalPid", orNull(s.terminalPID)},
                    {"tty", orNull(s.terminalTTY)},
                    {"startedAt", s.startedAt},
                    {"ageMinutes", s.ageMinutes},
                    {"age", s.ageLabel()},
                    {"transcript", transcriptJSON(s.context)},
                    {"session", sessionJSON(s)}});
  }
  return list.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

// Control characters (a line feed in a folder name) would break the one-line-per-field layout.
std::string printable(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  return text;
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
