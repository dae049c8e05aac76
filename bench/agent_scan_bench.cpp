// One agent-watch scan with ten agents of three kinds (four Claude Code sessions, two of them in
// one folder, three Codex, three Gemini CLI) whose logs grow by one turn before every scan, in a
// table of 600 processes. Baseline in the same run: the same scan with the lookup as it was before
// sessions were bound (the newest transcript of each Claude Code agent's folder, nothing for the
// other agents).
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>

#include <nlohmann/json.hpp>

#include "agents/agent_logs.h"
#include "agents/agent_watcher.h"
#include "agents/claude_session_reader.h"
#include "platform/running_apps.h"

namespace tovami {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

std::string line(const json& record) {
  return record.dump() + "\n";
}

struct Agent {
  int32_t pid;
  const char* kind;  // "claude", "codex", "gemini"
  std::string project;
  fs::path log;
};

// A HOME with every agent's log, and the process table that runs them.
class Machine final : public ProcessSampler {
 public:
  Machine() {
    home_ = fs::temp_directory_path() / ("tovami-scan-bench-" + std::to_string(std::random_device{}()));
    const auto now = std::chrono::system_clock::now();
    const std::string day = "2026/12/07";
    int32_t pid = 5000;
    for (int i = 0; i < 4; ++i) {  // two sessions share the folder "p0"
      const std::string project = "/home/u/p" + std::to_string(i == 1 ? 0 : i);
      const std::string session = "session-" + std::to_string(i);
      const fs::path log =
          home_ / ".claude" / "projects" / claude_code::projectFolderName(project) / (session + ".jsonl");
      write(home_ / ".claude" / "sessions" / (std::to_string(pid) + ".json"),
            line({{"pid", pid}, {"sessionId", session}, {"cwd", project}, {"status", "busy"}}));
      write(log, line({{"type", "summary"}, {"summary", "A session"}}));
      agents_.push_back({pid++, "claude", project, log});
    }
    for (int i = 0; i < 3; ++i) {
      const std::string project = "/home/u/c" + std::to_string(i);
      const fs::path log =
          home_ / ".codex" / "sessions" / day / ("rollout-x-" + std::to_string(i) + ".jsonl");
      write(log, line({{"type", "session_meta"},
                       {"payload",
                        {{"id", "c" + std::to_string(i)},
                         {"cwd", project},
                         {"base_instructions", std::string(25000, 'i')}}}}));
      agents_.push_back({pid++, "codex", project, log});
    }
    json projects = json::object();
    for (int i = 0; i < 3; ++i) {
      const std::string project = "/home/u/g" + std::to_string(i);
      projects[project] = "g" + std::to_string(i);
      const fs::path log =
          home_ / ".gemini" / "tmp" / ("g" + std::to_string(i)) / "chats" / "session-1.jsonl";
      write(log, line({{"sessionId", "g"}, {"kind", "main"}}));
      agents_.push_back({pid++, "gemini", project, log});
    }
    write(home_ / ".gemini" / "projects.json", line({{"projects", projects}}));
    for (int i = 0; i < 40; ++i) grow();  // conversations of some length already
    started_ = std::chrono::duration<double>(now.time_since_epoch()).count() - 60;

    for (int32_t filler = 100; filler < 690; ++filler)
      rows_.push_back({filler, 1, std::nullopt, 1, 600, "/usr/bin/sleep 900"});
    for (const auto& agent : agents_) {
      const std::string program =
          agent.kind == std::string("claude") ? "claude" : std::string("node /usr/bin/") + agent.kind;
      rows_.push_back({agent.pid, 1, "pts/1", 1, 60, program});
    }
  }
  ~Machine() override {
    std::error_code error;
    fs::remove_all(home_, error);
  }

  // One turn more in every log.
  void grow() {
    for (const auto& agent : agents_) {
      const std::string kind = agent.kind;
      std::string turn;
      if (kind == "claude")
        turn = line({{"type", "user"}, {"message", {{"role", "user"}, {"content", "next step please"}}}}) +
               line({{"type", "assistant"},
                     {"message",
                      {{"model", "claude-opus-4-8"},
                       {"content", json::array({{{"type", "text"}, {"text", std::string(400, 'r')}}})}}}}) +
               line({{"type", "user"},
                     {"message",
                      {{"content",
                        json::array({{{"type", "tool_result"}, {"content", std::string(1500, 'o')}}})}}}});
      else if (kind == "codex")
        turn =
            line({{"type", "turn_context"}, {"payload", {{"model", "gpt-6.2-sol"}}}}) +
            line({{"type", "event_msg"}, {"payload", {{"type", "user_message"}, {"message", "next step"}}}}) +
            line({{"type", "response_item"},
                  {"payload",
                   {{"type", "function_call"}, {"name", "shell"}, {"arguments", std::string(1500, 'a')}}}}) +
            line({{"type", "event_msg"},
                  {"payload", {{"type", "agent_message"}, {"message", std::string(400, 'r')}}}});
      else
        turn = line({{"type", "user"}, {"content", json::array({{{"text", "next step"}}})}}) +
               line({{"type", "gemini"}, {"content", std::string(1900, 'r')}, {"model", "gemini-3-pro"}});
      std::ofstream(agent.log, std::ios::binary | std::ios::app) << turn;
    }
  }

  std::optional<std::vector<PSRow>> sampleProcesses() override { return rows_; }
  std::map<int32_t, std::string> workingDirectories(const std::vector<int32_t>& pids) override {
    std::map<int32_t, std::string> out;
    for (const auto& agent : agents_)
      if (std::find(pids.begin(), pids.end(), agent.pid) != pids.end()) out[agent.pid] = agent.project;
    return out;
  }

  AgentLogLocations locations() const {
    AgentLogLocations where;
    where.claude = claude_code::ClaudeCodeLocations(home_, std::nullopt);
    where.codexSessions = home_ / ".codex" / "sessions";
    where.geminiFolder = home_ / ".gemini";
    return where;
  }
  double now() const { return started_ + 60; }

 private:
  static void write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }

  fs::path home_;
  std::vector<Agent> agents_;
  std::vector<PSRow> rows_;
  double started_ = 0;
};

// The lookup before sessions were bound: the newest transcript of a Claude Code agent's folder.
class FolderLookup final : public AgentLogs {
 public:
  explicit FolderLookup(claude_code::ClaudeCodeLocations locations) : reader_(std::move(locations)) {}
  AgentLogReport read(const AgentLogRequest& request) override {
    AgentLogReport report;
    if (request.agentName == claude_code::kAgentName && request.projectPath)
      report.conversation = reader_.read(*request.projectPath);
    return report;
  }

 private:
  ClaudeSessionReader reader_;
};

void scanLoop(benchmark::State& state, Machine& machine, std::shared_ptr<AgentLogs> logs) {
  NoRunningApplications apps;
  AgentScanner scanner(machine, apps, std::move(logs));
  scanner.scan(machine.now());
  size_t withConversation = 0;
  for (auto _ : state) {
    state.PauseTiming();
    machine.grow();
    state.ResumeTiming();
    const auto result = scanner.scan(machine.now());
    withConversation = 0;
    for (const auto& entry : result->entries) withConversation += entry.context ? 1 : 0;
  }
  state.counters["rows_with_conversation"] = static_cast<double>(withConversation);
}

void BM_ScanTenAgents_FolderLookupBaseline(benchmark::State& state) {
  Machine machine;
  scanLoop(state, machine, std::make_shared<FolderLookup>(machine.locations().claude));
}
BENCHMARK(BM_ScanTenAgents_FolderLookupBaseline)->Unit(benchmark::kMicrosecond);

void BM_ScanTenAgents_OwnSessions(benchmark::State& state) {
  Machine machine;
  scanLoop(state, machine, std::make_shared<AgentLogReader>(machine.locations()));
}
BENCHMARK(BM_ScanTenAgents_OwnSessions)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tovami
