// The agent watcher: every 3 s it reads the process table, finds the coding agents, decides for
// each whether it is working or quiet and publishes the list in an AgentWatchState. Around that
// list it keeps the machine awake while an agent works, starts an armed nap once every agent is
// quiet, and announces an agent that just finished a long stretch of work.
//
// Threads: scans and their bookkeeping run on the serial queue "app.tovami.agentwatch";
// start(), stop(), the state, the keep-awake and the announcements belong to the main queue.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "agents/agent_attention.h"
#include "agents/agent_logs.h"
#include "agents/agent_session.h"
#include "agents/process_table.h"
#include "app/app_services.h"
#include "app/sound_cues.h"
#include "nap/battery_guard.h"
#include "nap/keep_awake.h"
#include "platform/processes.h"
#include "platform/running_apps.h"
#include "platform/shared_instance.h"

namespace tovami {

class PreferenceStore;

// The island's side of an announcement: it opens to show that an agent finished.
class AgentAnnouncementSink {
 public:
  virtual ~AgentAnnouncementSink() = default;
  virtual void announce() = 0;
};

// An agent that just finished a long stretch of work.
struct AgentAnnouncement {
  std::string agentName;
  std::optional<int32_t> terminalPID;
  int32_t pid = 0;
  bool operator==(const AgentAnnouncement&) const = default;
};

// One pass over the process table with the per-agent bookkeeping kept between passes. Not
// thread-safe: the watcher uses it on its queue only; a one-shot listing uses its own.
class AgentScanner {
 public:
  static constexpr double kBusyCPUSeconds = 0.12;  // 4 % of one core over a 3 s interval
  static constexpr Seconds kQuietAfter = 10.0;
  static constexpr Seconds kFreshTranscript = 20.0;
  static constexpr Seconds kAnnounceMinimumStretch = 60.0;
  static constexpr Seconds kAnnounceAgainAfter = 300.0;
  static constexpr double kReusedCPUDrop = 0.5;
  static constexpr Seconds kReusedStartShift = 60.0;

  struct Result {
    std::vector<AgentSession> entries;  // oldest first, dismissed agents left out
    std::vector<AgentAnnouncement> announcements;
  };

  // `logs` may be null: no conversations, no session states (the CPU rule alone).
  AgentScanner(ProcessSampler& sampler, RunningApplications& apps, std::shared_ptr<AgentLogs> logs);

  // Nothing when the process table could not be read (records are left as they were).
  std::optional<Result> scan(Seconds now);
  // Forgets the agents, and the table kept for the next scan.
  void clear();

  // Agents hidden from the list and never announced; pruned to the agents still running.
  void dismiss(int32_t pid) { dismissed_.insert(pid); }
  size_t recordCount() const { return records_.size(); }

 private:
  struct Record {
    Seconds startedAt = 0;
    Seconds lastBusy = 0;
    std::optional<std::string> projectPath;
    bool folderDeleted = false;  // no transcript is looked up for a removed folder
    std::optional<std::string> terminalName;
    std::optional<int32_t> terminalPID;
    std::optional<std::string> tty;
    AgentActivity lastActivity = AgentActivity::working;
    double lastCPUTime = -1;
    double lastTreeCPUTime = -1;
    Seconds workingSince = 0;
    std::optional<Seconds> lastAnnounce;
  };

  ProcessSampler& sampler_;
  RunningApplications& apps_;
  std::shared_ptr<AgentLogs> logs_;
  std::unordered_map<int32_t, Record> records_;
  std::set<int32_t> dismissed_;
  // Kept from scan to scan so that their buffers are reused.
  std::vector<PSRow> rows_;
  ProcessTable table_;
  AgentMap recognized_;  // every row of the table recognised as an agent
};

struct AgentWatcherDependencies {
  Dispatcher& dispatcher;
  PreferenceStore& preferences;
  std::shared_ptr<ProcessSampler> sampler;    // used on the watcher's queue only
  std::shared_ptr<RunningApplications> apps;  // terminal owners and the frontmost application
  std::shared_ptr<const BatteryReader> battery;
  PowerManagement& power;                         // for the watcher's own keep-awake
  std::shared_ptr<AgentLogs> logs;                // may be null: no conversations or session states
  std::function<NapControl*()> nap;               // may be empty or give null: no nap
  std::shared_ptr<AgentAnnouncementSink> island;  // null: no island (announcements are logged)
  std::function<void(SoundCue)> playCue;          // may be empty
  // Null: every announcement is made. Asked on the watcher's queue (it may run tools).
  std::shared_ptr<AgentAttention> attention;
};

class AgentWatcher final : public StartStopControl,
                           public SharedInstance<AgentWatcher>,
                           public std::enable_shared_from_this<AgentWatcher> {
 public:
  static constexpr const char* kKeepAwakeReason = "Tovami: agents are working";
  static constexpr Seconds kFirstScanDelay = 0.5;
  static constexpr Seconds kScanInterval = 3.0;
  static constexpr int kFailuresBeforeClearing = 3;

  // Create with std::make_shared: the timer and posted work hold the watcher weakly.
  explicit AgentWatcher(AgentWatcherDependencies deps);
  ~AgentWatcher() override;

  // Main thread. Begins watching when "agentWatchEnabled" is on and it is not watching yet.
  void start() override;
  // Main thread. Stops watching; the list empties, an armed nap is disarmed, keep-awake ends.
  void stop() override;
  bool isWatching() const { return timer_.isActive(); }

  AgentWatchState& state() { return state_; }
  // Whether the user looks at an agent now (null when not known); shared with the approval
  // notices. Off the main thread: it may run tmux.
  std::shared_ptr<AgentAttention> attention() const { return attention_; }
  bool isKeepingAwake() const { return keepAwake_.isActive(); }

  // Main thread, at the program's end, before the dispatcher and the power service go: ends the
  // timer and waits for a scan under way, so that no scan outlives what it uses. Blocks for at
  // most one scan; never call it with a dispatcher whose queues run on the calling thread.
  void shutDown();

  // Hides an agent from the list until it exits (any thread; applied on the queue).
  void dismiss(int32_t pid);

  // Main thread. The agents of another machine, shown after this one's while watching; they count
  // for keep-awake and nap-when-idle as this machine's do. An empty list removes the host.
  void setRemoteSessions(const std::string& host, std::vector<AgentSession> sessions);
  // Main thread. An agent of `host` finished a long stretch of work (its host's watcher decided):
  // announced as this machine's are, unless a nap runs.
  void announceRemote(const std::string& host);

 private:
  void scan(uint64_t generation);
  void publish(uint64_t generation, std::vector<AgentSession> entries,
               std::vector<AgentAnnouncement> announcements);
  void scanFailed(uint64_t generation);
  void logChange(const std::vector<AgentSession>& entries);
  // Shows this machine's and the other machines' agents, keeps the machine awake while any works;
  // true when every one is quiet.
  bool show();

  Dispatcher& dispatcher_;
  PreferenceStore& preferences_;
  std::shared_ptr<ProcessSampler> sampler_;
  std::shared_ptr<RunningApplications> apps_;
  std::shared_ptr<const BatteryReader> battery_;
  std::function<NapControl*()> nap_;
  std::shared_ptr<AgentAnnouncementSink> island_;
  std::function<void(SoundCue)> playCue_;
  std::shared_ptr<AgentAttention> attention_;
  std::shared_ptr<TaskQueue> queue_;

  // Main thread.
  AgentWatchState state_;
  KeepAwake keepAwake_;
  WorkItem timer_;           // active exactly while watching
  uint64_t generation_ = 0;  // one per start(), so a late pass of an earlier watch is ignored
  std::vector<AgentSession> local_;
  std::map<std::string, std::vector<AgentSession>> remote_;

  // Queue.
  AgentScanner scanner_;
  int scanFailures_ = 0;
  // The list last handed to the main thread. A scan that finds it unchanged, with every agent
  // quiet and no nap armed, leaves the main thread asleep: there is nothing for it to do.
  std::optional<std::vector<AgentSession>> handedOver_;
  std::atomic<bool> napArmed_ = false;  // mirrors the state's flag, for the queue
};

}  // namespace tovami
