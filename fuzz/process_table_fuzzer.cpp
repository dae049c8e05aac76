// The process table as the portable sampler reads it: any bytes as `ps` output (then the walks the
// watcher makes over the rows), as `lsof -Fn` output and as a `ps` duration.
#include <cmath>

#include "agents/process_sampling.h"
#include "agents/process_table.h"
#include "fuzz_support.h"

using namespace tovami;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = fuzz::asText(data, size);

  const ProcessTable table(parsePSOutput(text));
  const AgentMap top = recognizeTopAgents(table);
  for (const auto& [pid, name] : top) fuzz::require(table.byPid.contains(pid), "a top agent is a row");
  for (const auto& [pid, row] : table.byPid) {
    fuzz::require(!row.args.empty(), "a row has a command line");
    fuzz::require(!std::isnan(row.cpuTime) && !std::isnan(row.elapsed), "durations are numbers");
    treeCPUTime(row.pid, table.byPid, table.children);
    hasAgentAncestor(row.pid, top, table.byPid);
    executableName(row.args);
  }

  for (const auto& [pid, directory] : parseLsofOutput(text))
    fuzz::require(directory.find('\n') == std::string::npos, "a directory is one line");

  fuzz::require(!std::isnan(parseDuration(text)), "a duration is a number");
  return 0;
}
