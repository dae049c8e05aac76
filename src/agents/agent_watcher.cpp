#include "agents/agent_watcher.h"

#include <algorithm>
#include <cmath>
#include <future>

#include "agents/claude_transcript_parsing.h"
#include "agents/process_sampling.h"
#include "agents/process_table.h"
#include "agents/terminal_resolution.h"
#include "app/preference_keys.h"
#include "platform/delayed_work.h"
#include "platform/log.h"
#include "platform/preferences_store.h"

namespace tovami {

AgentScanner::AgentScanner(ProcessSampler& sampler, RunningApplications& apps,
                           std::shared_ptr<AgentLogs> logs)
    : sampler_(sampler), apps_(apps), logs_(std::move(logs)) {}

namespace {

// Where an agent keeps its log open: itself or a child on its terminal (Codex runs a native child
// under node). A helper without it (Codex's shared app-server) holds other sessions' logs too.
std::vector<std::string> openFilesOfTree(ProcessSampler& sampler, int32_t pid, const ProcessTable& table) {
  constexpr size_t kMaxProcesses = 8;
  const auto row = table.byPid.find(pid);
  const std::optional<std::string> tty = row == table.byPid.end() ? std::nullopt : row->second.tty;
  std::vector<int32_t> tree{pid};
  for (size_t i = 0; i < tree.size() && tree.size() < kMaxProcesses; ++i)
    if (auto it = table.children.find(tree[i]); it != table.children.end())
      for (int32_t child : it->second) {
        const auto childRow = table.byPid.find(child);
        if (tree.size() < kMaxProcesses && childRow != table.byPid.end() && childRow->second.tty == tty)
          tree.push_back(child);
      }
  std::vector<std::string> files;
  for (int32_t member : tree) {
    auto more = sampler.openFiles(member);
    files.insert(files.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
  }
  return files;
}

// The live state an agent reports itself, where it does (Claude Code's status file): it replaces
// the CPU rule while the file is there.
std::optional<ClaudeSessionStatus::State> reportedState(const std::optional<ClaudeSessionStatus>& status) {
  using State = ClaudeSessionStatus::State;
  if (!status ||
      (status->state != State::idle && status->state != State::busy && status->state != State::waiting))
    return std::nullopt;
  return status->state;
}

}  // namespace

void AgentScanner::clear() {
  records_.clear();
  rows_ = {};
  table_ = {};
  recognized_.clear();
}

std::optional<AgentScanner::Result> AgentScanner::scan(Seconds now) {
  if (!sampler_.sampleInto(rows_)) return std::nullopt;
  table_.assign(rows_);
  const ProcessTable& table = table_;
  recognizeChangedRows(table, recognized_);
  const AgentMap agents = topAgentsAmong(recognized_, table);

  // Visit agents in pid order, so that equal start times keep one order from scan to scan.
  std::vector<std::pair<int32_t, std::string>> top(agents.begin(), agents.end());
  std::sort(top.begin(), top.end());

  std::vector<int32_t> newPids;
  for (const auto& [pid, name] : top)
    if (!records_.count(pid)) newPids.push_back(pid);
  const auto directories =
      newPids.empty() ? std::map<int32_t, std::string>{} : sampler_.workingDirectories(newPids);

  // First every agent's record, so that the logs know all agents before the first read.
  struct Seen {
    int32_t pid;
    const std::string& agentName;
    const PSRow& row;
    Record record;
  };
  std::vector<Seen> seen;
  std::vector<AgentLogRequest> requests;
  for (const auto& [pid, agentName] : top) {
    const auto row = table.byPid.find(pid);
    if (row == table.byPid.end()) continue;
    const double cpu = row->second.cpuTime;
    const double elapsed = row->second.elapsed;

    Record record;
    if (auto existing = records_.find(pid); existing != records_.end()) {
      // The same pid, another process: its CPU time fell or its start moved.
      if (cpu < existing->second.lastCPUTime - kReusedCPUDrop ||
          std::abs((now - elapsed) - existing->second.startedAt) > kReusedStartShift) {
        records_.erase(existing);
        continue;  // picked up as a new agent by the next scan
      }
      record = existing->second;
    } else {
      record.startedAt = now - elapsed;
      record.lastBusy = now;
      if (auto dir = directories.find(pid); dir != directories.end()) {
        auto folder = workingFolder(dir->second);
        record.projectPath = std::move(folder.path);
        record.folderDeleted = folder.deleted;
      }
      record.workingSince = now;
      if (auto terminal = resolveTerminal(pid, table.byPid, apps_)) {
        record.terminalName = terminal->terminalName;
        record.terminalPID = terminal->terminalPID;
      }
      record.tty = row->second.tty;
    }
    if (logs_)
      requests.push_back({pid, agentName, record.folderDeleted ? std::nullopt : record.projectPath,
                          record.startedAt, row->second.startTicks, [this, agentPid = pid, &table] {
                            return openFilesOfTree(sampler_, agentPid, table);
                          }});
    seen.push_back({pid, agentName, row->second, std::move(record)});
  }
  if (logs_) logs_->scanStarting(requests);

  std::unordered_map<int32_t, Record> newRecords;
  Result result;
  for (size_t i = 0; i < seen.size(); ++i) {
    const int32_t pid = seen[i].pid;
    const std::string& agentName = seen[i].agentName;
    Record& record = seen[i].record;
    const double cpu = seen[i].row.cpuTime;
    const std::string projectName = agentProjectName(record.projectPath, agentName);
    AgentLogReport report;
    if (logs_) {
      report = logs_->read(requests[i]);
      if (record.folderDeleted) report.conversation.reset();  // a removed folder's old conversation misleads
    }
    std::optional<ConversationSummary>& context = report.conversation;
    const auto reported = reportedState(report.status);

    if (record.lastCPUTime >= 0 && cpu - record.lastCPUTime >= kBusyCPUSeconds) record.lastBusy = now;
    record.lastCPUTime = cpu;
    const double tree = treeCPUTime(pid, table.byPid, table.children);
    if (record.lastTreeCPUTime >= 0 && tree - record.lastTreeCPUTime >= kBusyCPUSeconds)
      record.lastBusy = now;
    record.lastTreeCPUTime = tree;
    if (context && context->updatedAt && now - *context->updatedAt < kFreshTranscript) record.lastBusy = now;
    if (reported == ClaudeSessionStatus::State::busy) record.lastBusy = now;

    AgentActivity activity =
        now - record.lastBusy >= kQuietAfter ? AgentActivity::quiet : AgentActivity::working;
    if (reported)
      activity =
          *reported == ClaudeSessionStatus::State::busy ? AgentActivity::working : AgentActivity::quiet;
    if (record.lastActivity == AgentActivity::quiet && activity == AgentActivity::working) {
      record.workingSince = now;
    } else if (record.lastActivity == AgentActivity::working && activity == AgentActivity::quiet) {
      if (!dismissed_.count(pid) && now - record.workingSince >= kAnnounceMinimumStretch &&
          (!record.lastAnnounce || now - *record.lastAnnounce >= kAnnounceAgainAfter)) {
        result.announcements.push_back({agentName, record.terminalPID, pid});
        record.lastAnnounce = now;
      }
    }
    record.lastActivity = activity;

    AgentSession entry;
    entry.pid = pid;
    entry.agentName = agentName;
    entry.projectName = projectName;
    entry.projectPath = record.projectPath;
    entry.terminalName = record.terminalName;
    entry.terminalPID = record.terminalPID;
    entry.terminalTTY = record.tty;
    entry.startedAt = record.startedAt;
    const double minutes = std::trunc((now - record.startedAt) / 60.0);
    entry.ageMinutes = std::isfinite(minutes) ? std::max<int64_t>(0, static_cast<int64_t>(minutes)) : 0;
    entry.activity = record.lastActivity;
    entry.sessionId = report.sessionId;
    if (reported == ClaudeSessionStatus::State::waiting)
      entry.waitingFor = report.status->waitingFor.value_or(kWaitingForInput);
    entry.sessionName =
        agentSessionName(context, report.status ? report.status->name : std::nullopt, projectName);
    entry.context = std::move(context);
    result.entries.push_back(std::move(entry));
    newRecords[pid] = std::move(record);
  }

  records_ = std::move(newRecords);
  if (logs_) logs_->scanEnded();
  std::erase_if(dismissed_, [this](int32_t pid) { return !records_.count(pid); });
  std::erase_if(result.entries, [this](const AgentSession& e) { return dismissed_.count(e.pid) > 0; });
  std::stable_sort(result.entries.begin(), result.entries.end(),
                   [](const AgentSession& a, const AgentSession& b) { return a.startedAt < b.startedAt; });
  return result;
}

AgentWatcher::AgentWatcher(AgentWatcherDependencies deps)
    : dispatcher_(deps.dispatcher),
      preferences_(deps.preferences),
      sampler_(std::move(deps.sampler)),
      apps_(deps.apps ? std::move(deps.apps) : std::make_shared<NoRunningApplications>()),
      battery_(std::move(deps.battery)),
      nap_(std::move(deps.nap)),
      island_(std::move(deps.island)),
      playCue_(std::move(deps.playCue)),
      attention_(std::move(deps.attention)),
      queue_(dispatcher_.makeSerialQueue(queue_labels::kAgentWatch)),
      keepAwake_(kKeepAwakeReason, deps.power, dispatcher_.mainQueue()),
      scanner_(*sampler_, *apps_, std::move(deps.logs)) {
  state_.addObserver([this] { napArmed_ = state_.napWhenIdleArmed(); });
}

AgentWatcher::~AgentWatcher() {
  timer_.cancel();
}

void AgentWatcher::start() {
  if (!preferences_.boolValue(prefs::kAgentWatchEnabled) || timer_.isActive()) return;
  timer_ = WorkItem::make();
  const uint64_t generation = ++generation_;
  logInfo(log_categories::kAgentWatch, "agent watch started");

  // The first pass runs shortly after the start, then every interval. Every task checks the
  // timer's flag, so that stop() ends the chain wherever it is.
  auto weak = weak_from_this();
  queue_->asyncAfter(kFirstScanDelay, [weak, timer = timer_, generation] {
    auto self = weak.lock();
    if (!self || timer.isCancelled()) return;
    self->scan(generation);
    auto repeat = std::make_shared<WorkItem>();
    *repeat = self->queue_->repeating(kScanInterval, [weak, timer, generation, repeat] {
      auto watcher = weak.lock();
      if (!watcher || timer.isCancelled()) {
        repeat->cancel();
        return;
      }
      watcher->scan(generation);
    });
  });
}

void AgentWatcher::stop() {
  const bool wasWatching = timer_.isActive();
  timer_.cancel();
  timer_ = WorkItem();
  if (wasWatching) logInfo(log_categories::kAgentWatch, "agent watch stopped");
  queue_->async(weakTask(shared_from_this(), [](AgentWatcher& self) {
    self.scanner_.clear();
    self.handedOver_.reset();
  }));
  // Already on the main thread: cleared at once, so that a stop during the program's end (when
  // the main queue runs no more work) still releases the keep-awake.
  local_.clear();
  state_.setSessions({});
  state_.setNapWhenIdleArmed(false);
  keepAwake_.end();
}

void AgentWatcher::shutDown() {
  timer_.cancel();
  timer_ = WorkItem();
  keepAwake_.end();
  std::promise<void> drained;
  auto done = drained.get_future();
  queue_->async([&drained] { drained.set_value(); });
  done.wait();
}

void AgentWatcher::dismiss(int32_t pid) {
  queue_->async(weakTask(shared_from_this(), [pid](AgentWatcher& self) { self.scanner_.dismiss(pid); }));
}

void AgentWatcher::scan(uint64_t generation) {
  auto result = scanner_.scan(dispatcher_.clock().now());
  if (!result) {
    handedOver_.reset();
    if (++scanFailures_ == kFailuresBeforeClearing) {
      dispatcher_.mainQueue().async(
          weakTask(shared_from_this(), [generation](AgentWatcher& self) { self.scanFailed(generation); }));
    }
    return;
  }
  scanFailures_ = 0;
  // The user already looks at an agent that just finished (its pane or window is in front): no
  // need to call. Asked here, off the main thread: the answer may take a tmux run.
  if (attention_) {
    std::erase_if(result->announcements, [&](const AgentAnnouncement& a) {
      const auto entry = std::find_if(result->entries.begin(), result->entries.end(),
                                      [&](const AgentSession& e) { return e.pid == a.pid; });
      if (entry == result->entries.end() || !attention_->userIsLookingAt(*entry)) return false;
      logInfo(log_categories::kAgentWatch,
              a.agentName + " [" + std::to_string(a.pid) + "] finished its work while the user looks at it");
      return true;
    });
  }
  const bool allQuiet =
      std::none_of(result->entries.begin(), result->entries.end(),
                   [](const AgentSession& e) { return e.activity == AgentActivity::working; });
  if (allQuiet && result->announcements.empty() && !napArmed_ && handedOver_ == result->entries) return;
  handedOver_ = result->entries;
  dispatcher_.mainQueue().async(weakTask(
      shared_from_this(), [generation, entries = std::move(result->entries),
                           announcements = std::move(result->announcements)](AgentWatcher& self) mutable {
        self.publish(generation, std::move(entries), std::move(announcements));
      }));
}

bool AgentWatcher::show() {
  std::vector<AgentSession> shown = local_;
  for (const auto& [host, sessions] : remote_) shown.insert(shown.end(), sessions.begin(), sessions.end());
  const bool allQuiet = std::none_of(shown.begin(), shown.end(), [](const AgentSession& e) {
    return e.activity == AgentActivity::working;
  });
  state_.setSessions(std::move(shown));
  // Asked only while an agent works: each answer reads the preferences or the battery.
  const auto batteryLow = [this] {
    return battery_ && batteryGuardHolds(preferences_.boolValue(prefs::kBatteryGuard), *battery_);
  };
  if (allQuiet || !preferences_.boolValue(prefs::kAgentKeepAwake) || batteryLow())
    keepAwake_.end();
  else
    keepAwake_.begin();
  return allQuiet;
}

void AgentWatcher::setRemoteSessions(const std::string& host, std::vector<AgentSession> sessions) {
  if (sessions.empty())
    remote_.erase(host);
  else
    remote_[host] = std::move(sessions);
  if (!timer_.isActive()) return;
  if (show() && state_.napWhenIdleArmed()) {
    state_.setNapWhenIdleArmed(false);
    if (NapControl* nap = nap_ ? nap_() : nullptr) {
      logInfo(log_categories::kAgentWatch, "every agent is quiet; starting the armed nap");
      nap->startNap();
    }
  }
}

void AgentWatcher::announceRemote(const std::string& host) {
  NapControl* nap = nap_ ? nap_() : nullptr;
  if (!timer_.isActive() || !remote_.count(host) || (nap && nap->isNapping())) return;
  logInfo(log_categories::kAgentWatch, "an agent on " + host + " finished its work");
  if (island_ && preferences_.boolValue(prefs::kAgentOpensIsland)) island_->announce();
  if (playCue_) playCue_(SoundCue::agentQuiet);
}

void AgentWatcher::scanFailed(uint64_t generation) {
  if (!timer_.isActive() || generation != generation_) return;
  logChange({});
  local_.clear();
  show();
}

void AgentWatcher::publish(uint64_t generation, std::vector<AgentSession> entries,
                           std::vector<AgentAnnouncement> announcements) {
  // A pass that was under way when watching stopped (or restarted) shows nothing.
  if (!timer_.isActive() || generation != generation_) return;
  logChange(entries);
  local_ = std::move(entries);
  const bool allQuiet = show();

  NapControl* nap = nap_ ? nap_() : nullptr;
  if (allQuiet && state_.napWhenIdleArmed()) {
    state_.setNapWhenIdleArmed(false);
    if (nap) {
      logInfo(log_categories::kAgentWatch, "every agent is quiet; starting the armed nap");
      nap->startNap();
    }
    return;
  }

  if (announcements.empty()) return;
  // The user already looks at the terminal of an agent that just finished: no need to call.
  const auto frontmost = apps_->frontmostApplicationPID();
  std::erase_if(announcements, [&](const AgentAnnouncement& a) {
    return frontmost && a.terminalPID && *a.terminalPID == *frontmost;
  });
  if (announcements.empty() || (nap && nap->isNapping())) return;
  for (const auto& a : announcements)
    logInfo(log_categories::kAgentWatch, a.agentName + " [" + std::to_string(a.pid) + "] finished its work");
  if (island_ && preferences_.boolValue(prefs::kAgentOpensIsland)) island_->announce();
  if (playCue_) playCue_(SoundCue::agentQuiet);
}

void AgentWatcher::logChange(const std::vector<AgentSession>& entries) {
  // One line when an agent appears, leaves or changes between working and quiet; transcript
  // updates alone are not worth a line.
  auto summary = [](const std::vector<AgentSession>& list) {
    std::vector<std::pair<int32_t, AgentActivity>> out;
    for (const auto& e : list) out.emplace_back(e.pid, e.activity);
    return out;
  };
  // Which session each row follows, when that changes: two sessions in one folder must not swap.
  for (const auto& e : entries) {
    if (!e.sessionId) continue;
    const auto& before = state_.sessions();
    const auto same =
        std::find_if(before.begin(), before.end(), [&](const AgentSession& b) { return b.pid == e.pid; });
    if (same == before.end() || same->sessionId != e.sessionId)
      logInfo(log_categories::kAgentWatch, "agent [" + std::to_string(e.pid) + "] follows session " +
                                               claude_transcript::clean(*e.sessionId));
  }
  if (summary(entries) == summary(state_.sessions())) return;
  std::string line = "agents:";
  if (entries.empty()) line += " none";
  for (const auto& e : entries) line += " [" + std::to_string(e.pid) + "] " + agentMenuTitle(e) + ";";
  if (line.back() == ';') line.pop_back();
  logInfo(log_categories::kAgentWatch, line);
}

}  // namespace tovami
