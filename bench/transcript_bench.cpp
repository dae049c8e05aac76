// Cost of one transcript summary per Claude Code agent per scan: the cache hit of a quiet agent,
// a working agent's transcript that grew by one turn since the last scan, and the first read of a
// 1 MB conversation (what every scan of a working agent cost before reads took only the new lines).
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include <nlohmann/json.hpp>

#include "agents/claude_session_reader.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// A home folder with one project holding `sessions` transcripts, the newest about 1 MB long
// with the mix of records a working session writes.
class TranscriptHome {
 public:
  explicit TranscriptHome(int sessions) {
    std::random_device random;
    home_ = fs::temp_directory_path() / ("tovami-bench-" + std::to_string(random()));
    const fs::path folder = home_ / ".claude" / "projects" / "-home-u-project";
    fs::create_directories(folder);
    for (int i = 0; i < sessions; ++i) {
      const fs::path path = folder / ("session-" + std::to_string(i) + ".jsonl");
      std::ofstream(path) << (i + 1 == sessions ? conversation(1024 * 1024) : conversation(4096));
      fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::seconds(sessions - i));
    }
  }
  ~TranscriptHome() {
    std::error_code ec;
    fs::remove_all(home_, ec);
  }
  tovami::claude_code::ClaudeCodeLocations locations() const { return {home_, std::nullopt}; }
  fs::path newest() const { return home_ / ".claude" / "projects" / "-home-u-project" / "session-0.jsonl"; }

  static std::string conversation(std::size_t size) {
    std::string text;
    for (int turn = 0; text.size() < size; ++turn) {
      text +=
          json{{"type", "user"},
               {"cwd", "/home/u/project"},
               {"message", {{"role", "user"}, {"content", "Please look at step " + std::to_string(turn)}}}}
              .dump() +
          "\n";
      json tool = {{"type", "tool_use"},
                   {"id", "toolu_" + std::to_string(turn)},
                   {"name", "Bash"},
                   {"input", {{"command", "make test"}, {"description", "Run the tests"}}}};
      text +=
          json{{"type", "assistant"},
               {"message",
                {{"model", "claude-opus-4-8"},
                 {"content", json::array({json{{"type", "text"}, {"text", std::string(400, 'r')}}, tool})}}}}
              .dump() +
          "\n";
      json result = {
          {"type", "tool_result"}, {"tool_use_id", "toolu_1"}, {"content", std::string(1500, 'o')}};
      text +=
          json{{"type", "user"}, {"message", {{"role", "user"}, {"content", json::array({result})}}}}.dump() +
          "\n";
    }
    return text;
  }

 private:
  fs::path home_;
};

const std::string kProject = "/home/u/project";

void BM_ReadUnchangedTranscript(benchmark::State& state) {
  TranscriptHome home(static_cast<int>(state.range(0)));
  tovami::ClaudeSessionReader reader(home.locations());
  reader.read(kProject);
  for (auto _ : state) benchmark::DoNotOptimize(reader.read(kProject));
}
BENCHMARK(BM_ReadUnchangedTranscript)->Arg(1)->Arg(20)->Unit(benchmark::kMicrosecond);

void BM_ReadGrowingTranscript(benchmark::State& state) {
  TranscriptHome home(1);
  tovami::ClaudeSessionReader reader(home.locations());
  reader.read(kProject);
  const std::string turn = TranscriptHome::conversation(1);  // one prompt, reply and tool result
  std::ofstream out(home.newest(), std::ios::binary | std::ios::app);
  for (auto _ : state) {
    state.PauseTiming();
    out << turn << std::flush;
    state.ResumeTiming();
    benchmark::DoNotOptimize(reader.read(kProject));
  }
  state.counters["bytes_per_turn"] = static_cast<double>(turn.size());
}
BENCHMARK(BM_ReadGrowingTranscript)->Unit(benchmark::kMicrosecond);

void BM_ReadFresh1MBTranscript(benchmark::State& state) {
  TranscriptHome home(1);
  for (auto _ : state) {
    tovami::ClaudeSessionReader reader(home.locations());  // empty cache: the file is parsed
    benchmark::DoNotOptimize(reader.read(kProject));
  }
}
BENCHMARK(BM_ReadFresh1MBTranscript)->Unit(benchmark::kMicrosecond);

}  // namespace
