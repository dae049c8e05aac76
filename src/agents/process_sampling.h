// Process sampling for the agent watcher: how to read the process table each scan.
//
// Dependencies to hold (created once, used only from the watcher's serial queue):
//   - a ProcessSampler (src/platform/processes.h): on Linux `makeLinuxProcessSampler()` from
//     src/linux/agents/proc_sampler.h (reads /proc, spawns nothing); elsewhere a
//     ToolProcessSampler over a ProcessLauncher (ps and lsof, 5 s limit each).
//   - a RunningApplications (src/platform/running_apps.h): on Linux X11RunningApplications
//     (windows' _NET_WM_PID); it also answers `frontmostApplicationPID()` for announcements.
//   - for the battery guard: a BatteryReader (src/nap/battery_guard.h, PowerSupplyBatteryReader)
//     and `batteryGuardHolds(preference, reader)` at each publication.
//
// Every scan (every 3 s):
//   1. `sampler.sampleInto(rows)` (rows kept from scan to scan); false means a failed scan (count
//      it); an empty list is a good scan.
//   2. `table.assign(rows)` (the table kept too) builds `byPid` and `children`.
//   3. `AgentMap top = recognizeTopAgents(table);` gives pid -> agent name ("Claude Code") for the
//      outermost agents (recognizeAgentRow on every row, minus those with hasAgentAncestor and the
//      helpers an agent left behind, isOrphanedAgentHelper). With the table kept, only the rows it
//      changed need recognising again: `recognizeChangedRows` then `topAgentsAmong`.
//   4. For agents without a record, in one batch: `sampler.workingDirectories(newPids)` gives
//      pid -> directory (a missing entry: unknown, never retried). Once per new agent:
//      `resolveTerminal(pid, table.byPid, apps)` (terminal_resolution.h) gives the terminal name
//      ("tmux", "GNOME Terminal") and the pid standing for its application, or nothing; take the
//      row's `tty` too.
//   5. Every agent every scan: `table.byPid.at(pid).cpuTime` / `.elapsed`, and
//      `treeCPUTime(pid, table.byPid, table.children)` for the whole process tree.
// Every walk is bounded (30 generations, 10 for the application, 400 processes for the CPU sum)
// and treats a missing row as the end of the walk, so a process that exits mid-scan is harmless.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "agents/process_table.h"
#include "platform/processes.h"

namespace tovami {

// Where the two tools live on this platform.
struct ToolPaths {
  std::string ps;
  std::string lsof;
};
inline const ToolPaths kMacToolPaths{"/bin/ps", "/usr/sbin/lsof"};

inline constexpr double kToolTimeoutSeconds = 5.0;

bool isValidUtf8(std::string_view bytes);

// Runs a tool through `launcher` and returns its standard output as UTF-8 text, or nothing when
// it cannot be launched ("<path> failed to launch: <error>"), exceeds `timeoutSeconds`
// ("<path> exceeded <timeout>s; terminating"; partial output is dropped), leaves its output cut
// short ("<path> output cut short; dropped") or prints bytes that are not UTF-8. Blocks for at most the
// timeout plus about one second.
std::optional<std::string> runTool(ProcessLauncher& launcher, const std::string& path,
                                   const std::vector<std::string>& arguments, double timeoutSeconds);

// The arguments for `ps` and `lsof`.
std::vector<std::string> psArguments();
std::vector<std::string> lsofArguments(const std::vector<int32_t>& pids);

// The portable sampler: `ps -axww -o pid=,ppid=,tty=,cputime=,etime=,args=` and
// `lsof -n -P -a -p <pids> -d cwd -Fn`, each with a 5 s limit.
class ToolProcessSampler final : public ProcessSampler {
 public:
  ToolProcessSampler(ProcessLauncher& launcher, ToolPaths paths);
  std::optional<std::vector<PSRow>> sampleProcesses() override;
  std::map<int32_t, std::string> workingDirectories(const std::vector<int32_t>& pids) override;

 private:
  ProcessLauncher& launcher_;
  ToolPaths paths_;
};

// The agent name for one row: from its real arguments when the sampler knows them (so a path with
// spaces is one argument), else from `args` split at spaces. A process that rewrote its title into
// a single argument ("claude --resume") is also read the second way.
std::optional<std::string> recognizeAgentRow(const PSRow& row);

// Step 3 of a scan: the recognised agents that have no agent among their ancestors and are not a
// helper left behind by its agent.
AgentMap recognizeTopAgents(const ProcessTable& table);

// The same in two halves, for a table kept from scan to scan: `agents` (every recognised row,
// kept by the caller) brought up to date with the rows the last assign changed, then the top ones
// among them.
void recognizeChangedRows(const ProcessTable& table, AgentMap& agents);
AgentMap topAgentsAmong(const AgentMap& agents, const ProcessTable& table);

}  // namespace tovami
