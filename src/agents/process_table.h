// The process table of one scan and the questions the watcher asks of it: the text formats of
// `ps` and `lsof`, and bounded walks over ancestors and descendants. Pure functions.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/processes.h"

namespace tovami {

using ProcessMap = std::unordered_map<int32_t, PSRow>;
using ChildMap = std::unordered_map<int32_t, std::vector<int32_t>>;
// pid -> agent name, for the agents recognised in one scan.
using AgentMap = std::unordered_map<int32_t, std::string>;

// The rows of one scan, moved into a map by pid, and who is whose child. A pid listed twice
// keeps its first row.
struct ProcessTable {
  ProcessTable() = default;
  explicit ProcessTable(const std::vector<PSRow>& rows) { assign(rows); }

  // Becomes the table of `rows`, reusing the entries and buffers of the processes it already
  // holds: the watcher's table changes little from one scan to the next. A row whose revision
  // the table holds already has only its elapsed time taken.
  void assign(const std::vector<PSRow>& rows);

  ProcessMap byPid;
  // Parent pid -> child pids, in table order.
  ChildMap children;
  // What the last assign changed: pids whose rows are new or were taken anew, and pids that left.
  const std::vector<int32_t>& changed() const { return changed_; }
  const std::vector<int32_t>& removed() const { return removed_; }

 private:
  std::vector<int32_t> changed_;
  std::vector<int32_t> removed_;
  std::vector<std::pair<int32_t, size_t>> order_;  // pid and index in the rows, by pid
  std::vector<bool> first_;                        // whether a row is its pid's first
};

// Bounds that keep a pathological (or cyclic) table from stalling a scan.
inline constexpr int kMaxAncestorGenerations = 30;
inline constexpr int kMaxApplicationWalk = 10;
inline constexpr int kMaxTreeProcesses = 400;

// Seconds in one of the `ps` time forms [[dd-]hh:]mm:ss[.ff]. Pieces that are not numbers are
// dropped; empty text is 0.
double parseDuration(std::string_view text);

// Output of `ps -o pid=,ppid=,tty=,cputime=,etime=,args=`; malformed lines are skipped. A tty
// column of "??" (macOS) or "?" (Linux) means no terminal.
std::vector<PSRow> parsePSOutput(std::string_view output);

// Output of `lsof -Fn -d cwd`: pid -> working directory. A later name for the same pid wins;
// names lsof could not resolve ("... (readlink: Permission denied)") are left out.
std::map<int32_t, std::string> parseLsofOutput(std::string_view output);

// Whether an ancestor of the agent `pid` is itself one of `agents` (at most 30 generations).
bool hasAgentAncestor(int32_t pid, const AgentMap& agents, const ProcessMap& byPid);

// CPU seconds of `pid` and its descendants, depth first, at most 400 processes.
double treeCPUTime(int32_t pid, const ProcessMap& byPid, const ChildMap& children);

// The last path component of the first space-delimited piece of a command line ("" when none).
std::string executableName(std::string_view args);

// The arguments of a row: the real ones when the source knows their boundaries, else the pieces
// of `args` between spaces (empty pieces dropped). The views point into `row.args`.
std::vector<std::string_view> commandArguments(const PSRow& row);

}  // namespace tovami
