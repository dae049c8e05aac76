// The plan-usage meter's source. Claude Code's status line inputs come first: the figures are the
// highest each window's newest reset shows across the sessions' latest inputs. Only when no
// session has reported figures for kFeedFreshness does it read Claude Code's login afresh and ask
// the usage endpoint, every five minutes; a 429 or 5xx answer backs off (Retry-After when
// positive, else doubling up to an hour), and the state says so. It stops itself when there is no
// login to read.
//
// Threads: the credential read and the request run on the serial queue "app.tovami.usage";
// start(), stop() and the published state belong to the main queue.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "app/app_services.h"
#include "peers/status_line_feed.h"
#include "peers/usage_snapshot.h"
#include "platform/credentials.h"
#include "platform/file_system.h"
#include "platform/http_client.h"
#include "platform/shared_instance.h"

namespace tovami {

class PreferenceStore;

inline constexpr const char* kUsageEndpoint = "https://api.anthropic.com/api/oauth/usage";

// The latest snapshot. Main thread only; observers run when it changes.
class UsageState {
 public:
  const std::optional<UsageSnapshot>& snapshot() const { return snapshot_; }
  const std::optional<UsageBackoff>& backoff() const { return backoff_; }
  void setSnapshot(std::optional<UsageSnapshot> snapshot);
  void setBackoff(std::optional<UsageBackoff> backoff);
  int addObserver(std::function<void()> observer);
  void removeObserver(int token);

 private:
  void notify();

  std::optional<UsageSnapshot> snapshot_;
  std::optional<UsageBackoff> backoff_;
  std::map<int, std::function<void()>> observers_;
  int nextToken_ = 1;
};

// Claude Code's credential file on Linux: ${CLAUDE_CONFIG_DIR:-~/.claude}/.credentials.json.
class CredentialFile final : public CredentialSource {
 public:
  CredentialFile(std::shared_ptr<FileSystem> files, std::string path)
      : files_(std::move(files)), path_(std::move(path)) {}
  std::optional<std::string> read() override;

 private:
  std::shared_ptr<FileSystem> files_;
  std::string path_;
};

struct UsageTrackerDependencies {
  Dispatcher& dispatcher;
  PreferenceStore& preferences;
  std::shared_ptr<CredentialSource> credentials;
  std::shared_ptr<HttpClient> http;
  std::string endpoint = kUsageEndpoint;  // tests point it at a local server
};

class UsageTracker final : public StartStopControl,
                           public SharedInstance<UsageTracker>,
                           public std::enable_shared_from_this<UsageTracker> {
 public:
  static constexpr Seconds kFirstFetchDelay = 1.0;
  static constexpr Seconds kFetchInterval = 300.0;
  static constexpr double kRequestTimeout = 10.0;
  static constexpr const char* kBetaHeader = "oauth-2025-04-20";
  // The endpoint is asked only when no session's status line reported figures for this long.
  static constexpr Seconds kFeedFreshness = 600.0;
  static constexpr Seconds kLongestBackoff = 3600.0;
  // A Retry-After beyond this is taken as this.
  static constexpr Seconds kLongestRetryAfter = 86400.0;

  // Create with std::make_shared: timers and hand-offs hold the tracker weakly.
  explicit UsageTracker(UsageTrackerDependencies deps);
  ~UsageTracker() override;

  // Main thread. Polls when "usageTracking" is on and it does not poll yet.
  void start() override;
  // Main thread. Ends polling and clears the snapshot.
  void stop() override;
  bool isRunning() const { return running_; }
  // Main thread, at the program's end: stops and waits for a fetch under way (a bounded time:
  // a credential read stuck on a FIFO or a dead share must not keep the program from ending).
  // A fetch that is left behind publishes nothing and touches no other service when it returns.
  // start() does nothing afterwards.
  void shutDown();
  UsageState& state() { return state_; }
  // Main thread: a status line input (the feed switch on). Ignored while the tracker is off.
  void reportStatusLine(const StatusLineFeed& feed);

 private:
  struct Outcome {
    std::optional<UsageSnapshot> snapshot;
    long status = 0;  // HTTP status; 0 without a response
    std::optional<Seconds> retryAfter;
    bool noToken = false;
  };
  struct Reported {
    std::optional<RateWindow> fiveHour, sevenDay;
    Seconds uptime = 0;
  };
  void scheduleAttempt(Seconds delay);
  void attempt(uint64_t generation);
  Outcome fetch();
  void fetched(uint64_t generation, const Outcome& outcome);
  void publishReported();

  UsageTrackerDependencies deps_;
  std::shared_ptr<TaskQueue> queue_;
  // Main thread.
  UsageState state_;
  bool running_ = false;
  uint64_t generation_ = 0;         // one per start(): a fetch of an earlier run is never published
  std::atomic<bool> ended_{false};  // set by shutDown(); read by a fetch left running
  WorkItem next_;
  bool fetching_ = false;
  Seconds backoffWait_ = 0;  // the last back-off's wait; 0 after a good answer
  std::map<std::string, Reported> reported_;  // by session (id, else the wrapper's parent)
  std::optional<Seconds> lastReportUptime_;
};

}  // namespace tovami
