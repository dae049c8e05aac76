#include "agents/process_table.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <unordered_set>

namespace tovami {
namespace {

std::optional<int32_t> parseInt32(std::string_view text) {
  if (text.empty()) return std::nullopt;
  int32_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<double> parseDouble(std::string_view text) {
  if (text.empty()) return std::nullopt;
  double value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

// Calls `visit` for every non-empty line.
template <typename Visit>
void forEachLine(std::string_view text, Visit visit) {
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    if (!line.empty()) visit(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
}

std::optional<PSRow> parsePSLine(std::string_view line) {
  std::string_view fields[5];
  size_t pos = 0;
  for (auto& field : fields) {
    while (pos < line.size() && line[pos] == ' ') ++pos;
    const size_t start = pos;
    while (pos < line.size() && line[pos] != ' ') ++pos;
    field = line.substr(start, pos - start);
    if (pos >= line.size()) return std::nullopt;  // no sixth field
    ++pos;                                        // the space that ends the field
  }
  const std::string_view args = line.substr(pos);
  if (args.empty()) return std::nullopt;
  const auto pid = parseInt32(fields[0]);
  const auto ppid = parseInt32(fields[1]);
  if (!pid || !ppid) return std::nullopt;
  PSRow row;
  row.pid = *pid;
  row.ppid = *ppid;
  if (fields[2] != "??" && fields[2] != "?") row.tty = std::string(fields[2]);
  row.cpuTime = parseDuration(fields[3]);
  row.elapsed = parseDuration(fields[4]);
  row.args = std::string(args);
  return row;
}

}  // namespace

void ProcessTable::assign(const std::vector<PSRow>& rows) {
  order_.clear();
  for (size_t i = 0; i < rows.size(); ++i) order_.emplace_back(rows[i].pid, i);
  if (!std::is_sorted(order_.begin(), order_.end())) std::sort(order_.begin(), order_.end());
  first_.assign(rows.size(), false);
  changed_.clear();
  removed_.clear();
  size_t listed = 0;
  bool reshaped = false;  // a process came, went or changed its parent
  for (size_t k = 0; k < order_.size(); ++k) {
    if (k > 0 && order_[k].first == order_[k - 1].first) continue;  // a repeated pid keeps its first row
    first_[order_[k].second] = true;
    ++listed;
    const PSRow& row = rows[order_[k].second];
    auto [entry, added] = byPid.try_emplace(row.pid, row);
    if (!added && row.revision != 0 && entry->second.revision == row.revision) {
      entry->second.elapsed = row.elapsed;
      continue;
    }
    reshaped = reshaped || added || entry->second.ppid != row.ppid;
    if (!added) entry->second = row;
    changed_.push_back(row.pid);
  }
  // Processes that left: a second pass over the table only when there are some.
  if (byPid.size() > listed) {
    reshaped = true;
    std::erase_if(byPid, [this](const auto& entry) {
      const auto at =
          std::lower_bound(order_.begin(), order_.end(), std::pair<int32_t, size_t>(entry.first, 0));
      const bool left = at == order_.end() || at->first != entry.first;
      if (left) removed_.push_back(entry.first);
      return left;
    });
  }
  if (!reshaped) return;  // who is whose child stays as it was
  for (auto& [ppid, kids] : children) kids.clear();
  for (size_t i = 0; i < rows.size(); ++i)
    if (first_[i]) children[rows[i].ppid].push_back(rows[i].pid);
  std::erase_if(children, [](const auto& entry) { return entry.second.empty(); });
}

double parseDuration(std::string_view text) {
  double days = 0;
  if (const size_t dash = text.find('-'); dash != std::string_view::npos) {
    days = parseDouble(text.substr(0, dash)).value_or(0);
    text.remove_prefix(dash + 1);
  }
  double total = 0;
  while (true) {
    const size_t colon = text.find(':');
    if (const auto piece = parseDouble(text.substr(0, colon))) total = total * 60 + *piece;
    if (colon == std::string_view::npos) break;
    text.remove_prefix(colon + 1);
  }
  return days * 86400 + total;
}

std::vector<PSRow> parsePSOutput(std::string_view output) {
  std::vector<PSRow> rows;
  forEachLine(output, [&](std::string_view line) {
    if (auto row = parsePSLine(line)) rows.push_back(std::move(*row));
  });
  return rows;
}

std::map<int32_t, std::string> parseLsofOutput(std::string_view output) {
  std::map<int32_t, std::string> directories;
  std::optional<int32_t> current;
  forEachLine(output, [&](std::string_view line) {
    if (line.front() == 'p') {
      current = parseInt32(line.substr(1));
    } else if (line.front() == 'n' && current) {
      const std::string_view name = line.substr(1);
      // lsof reports a link it could not read as "<path> (readlink: <error>)": not a directory.
      if (name.find(" (readlink: ") != std::string_view::npos) return;
      directories[*current] = std::string(name);
    }
  });
  return directories;
}

bool hasAgentAncestor(int32_t pid, const AgentMap& agents, const ProcessMap& byPid) {
  const auto row = byPid.find(pid);
  if (row == byPid.end() || row->second.ppid < 2) return false;
  const int32_t parentPid = row->second.ppid;
  const auto parent = byPid.find(parentPid);
  if (parent == byPid.end() || parentPid == pid) return false;
  if (agents.contains(parentPid)) return true;
  int32_t next = parent->second.ppid;
  for (int step = 1; step < kMaxAncestorGenerations; ++step) {
    // A cycle back to the agent itself would make it its own ancestor.
    if (next < 2 || next == pid) return false;
    const auto ancestor = byPid.find(next);
    if (ancestor == byPid.end()) return false;
    if (agents.contains(next)) return true;
    next = ancestor->second.ppid;
  }
  return false;
}

double treeCPUTime(int32_t pid, const ProcessMap& byPid, const ChildMap& children) {
  double total = 0;
  std::vector<int32_t> stack{pid};
  std::unordered_set<int32_t> visited;
  for (int pops = 0; !stack.empty() && pops < kMaxTreeProcesses; ++pops) {
    const int32_t current = stack.back();
    stack.pop_back();
    // A malformed table can hold a cycle; count every process once.
    if (!visited.insert(current).second) continue;
    if (const auto row = byPid.find(current); row != byPid.end()) total += row->second.cpuTime;
    if (const auto kids = children.find(current); kids != children.end())
      stack.insert(stack.end(), kids->second.begin(), kids->second.end());
  }
  return total;
}

std::string executableName(std::string_view args) {
  const size_t start = args.find_first_not_of(' ');
  if (start == std::string_view::npos) return {};
  std::string_view piece = args.substr(start);
  piece = piece.substr(0, piece.find(' '));
  while (piece.size() > 1 && piece.back() == '/') piece.remove_suffix(1);
  const size_t slash = piece.rfind('/');
  if (slash != std::string_view::npos && piece.size() > 1) piece.remove_prefix(slash + 1);
  return std::string(piece);
}

std::vector<std::string_view> commandArguments(const PSRow& row) {
  const std::string_view args = row.args;
  if (row.argumentEnds.empty()) {
    std::vector<std::string_view> pieces;
    for (size_t start = args.find_first_not_of(' '); start != std::string_view::npos;) {
      const size_t end = std::min(args.find(' ', start), args.size());
      pieces.push_back(args.substr(start, end - start));
      start = args.find_first_not_of(' ', end);
    }
    return pieces;
  }
  std::vector<std::string_view> arguments;
  arguments.reserve(row.argumentEnds.size());
  size_t begin = 0;
  for (const uint32_t end : row.argumentEnds) {
    // Boundaries that do not fit the text (a malformed row) end the list.
    if (end < begin || end > args.size()) break;
    arguments.push_back(args.substr(begin, end - begin));
    begin = end + 1;
  }
  return arguments;
}

}  // namespace tovami
