#include "agents/process_sampling.h"

#include <array>
#include <cstdio>
#include <span>

#include "agents/agent_recognition.h"
#include "platform/log.h"

namespace tovami {

bool isValidUtf8(std::string_view bytes) {
  size_t i = 0;
  const size_t n = bytes.size();
  while (i < n) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t length = 0;
    uint32_t cp = 0;
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + length > n) return false;
    for (size_t k = 1; k < length; ++k) {
      const auto cc = static_cast<unsigned char>(bytes[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    // Overlong forms, surrogates and code points past U+10FFFF.
    if ((length == 3 && cp < 0x800) || (length == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += length;
  }
  return true;
}

std::optional<std::string> runTool(ProcessLauncher& launcher, const std::string& path,
                                   const std::vector<std::string>& arguments, double timeoutSeconds) {
  ToolRun run = launcher.run(path, arguments, timeoutSeconds);
  switch (run.outcome) {
    case ToolRun::Outcome::failedToLaunch:
      logError(log_categories::kAgentWatch, path + " failed to launch: " + run.launchError);
      return std::nullopt;
    case ToolRun::Outcome::timedOut: {
      char seconds[64];
      std::snprintf(seconds, sizeof seconds, "%f", timeoutSeconds);
      logError(log_categories::kAgentWatch, path + " exceeded " + seconds + "s; terminating");
      return std::nullopt;
    }
    case ToolRun::Outcome::tooMuchOutput:
      logError(log_categories::kAgentWatch, path + " printed too much output; terminating");
      return std::nullopt;
    case ToolRun::Outcome::cutShort:
      logError(log_categories::kAgentWatch, path + " output cut short; dropped");
      return std::nullopt;
    case ToolRun::Outcome::finished:
      break;
  }
  if (!isValidUtf8(run.output)) return std::nullopt;
  return std::move(run.output);
}

std::vector<std::string> psArguments() {
  return {"-axww", "-o", "pid=,ppid=,tty=,cputime=,etime=,args="};
}

std::vector<std::string> lsofArguments(const std::vector<int32_t>& pids) {
  std::string list;
  for (int32_t pid : pids) {
    if (!list.empty()) list += ',';
    list += std::to_string(pid);
  }
  return {"-n", "-P", "-a", "-p", list, "-d", "cwd", "-Fn"};
}

ToolProcessSampler::ToolProcessSampler(ProcessLauncher& launcher, ToolPaths paths)
    : launcher_(launcher), paths_(std::move(paths)) {}

std::optional<std::vector<PSRow>> ToolProcessSampler::sampleProcesses() {
  const auto output = runTool(launcher_, paths_.ps, psArguments(), kToolTimeoutSeconds);
  if (!output) return std::nullopt;
  return parsePSOutput(*output);
}

std::map<int32_t, std::string> ToolProcessSampler::workingDirectories(const std::vector<int32_t>& pids) {
  if (pids.empty()) return {};
  const auto output = runTool(launcher_, paths_.lsof, lsofArguments(pids), kToolTimeoutSeconds);
  if (!output) return {};
  return parseLsofOutput(*output);
}

std::optional<std::string> recognizeAgentRow(const PSRow& row) {
  if (row.argumentEnds.empty()) return recognizeAgent(row.args);
  // The first three arguments decide (every row, every scan: no list of them all).
  std::array<std::string_view, 3> argv;
  size_t count = 0;
  size_t begin = 0;
  for (const uint32_t end : row.argumentEnds) {
    // Boundaries that do not fit the text (a malformed row) end the list.
    if (end < begin || end > row.args.size() || count == argv.size()) break;
    argv[count++] = std::string_view(row.args).substr(begin, end - begin);
    begin = end + 1;
  }
  if (auto name = recognizeAgent(std::span(argv.data(), count))) return name;
  if (count == 1 && argv[0].find(' ') != std::string_view::npos) return recognizeAgent(row.args);
  return std::nullopt;
}

AgentMap recognizeTopAgents(const ProcessTable& table) {
  AgentMap agents;
  for (const auto& [pid, row] : table.byPid) {
    if (auto name = recognizeAgentRow(row)) agents.emplace(pid, std::move(*name));
  }
  return topAgentsAmong(agents, table);
}

void recognizeChangedRows(const ProcessTable& table, AgentMap& agents) {
  for (int32_t pid : table.removed()) agents.erase(pid);
  for (int32_t pid : table.changed()) {
    if (auto name = recognizeAgentRow(table.byPid.at(pid)))
      agents.insert_or_assign(pid, std::move(*name));
    else
      agents.erase(pid);
  }
}

AgentMap topAgentsAmong(const AgentMap& agents, const ProcessTable& table) {
  AgentMap top;
  for (const auto& [pid, name] : agents) {
    if (hasAgentAncestor(pid, agents, table.byPid)) continue;
    // A helper left behind stays among `agents`, so that what it runs counts as its own work.
    const PSRow& row = table.byPid.at(pid);
    const auto parent = table.byPid.find(row.ppid);
    if (isOrphanedAgentHelper(row, parent == table.byPid.end() ? nullptr : &parent->second)) continue;
    top.emplace(pid, name);
  }
  return top;
}

}  // namespace tovami
