// The plan-usage meter's source: every five minutes it reads Claude Code's login afresh, asks the
// usage endpoint for the five-hour and seven-day figures and publishes them as a UsageSnapshot.
// It stops itself when there is no login to read.
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
  void setSnapshot(std::optional<UsageSnapshot> snapshot);
  int addObserver(std::function<void()> observer);
  void removeObserver(int token);

 private:
  std::optional<UsageSnapshot> snapshot_;
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

 private:
  Task fetchTask(uint64_t generation);
  void fetch(uint64_t generation);

  UsageTrackerDependencies deps_;
  std::shared_ptr<TaskQueue> queue_;
  // Main thread.
  UsageState state_;
  bool running_ = false;
  uint64_t generation_ = 0;         // one per start(): a fetch of an earlier run is never published
  std::atomic<bool> ended_{false};  // set by shutDown(); read by a fetch left running
  WorkItem firstFetch_, arming_, timer_;
};

}  // namespace tovami
