// Time and threads: the main queue, serial background queues, cancellable delayed work,
// repeating timers and the clocks. Logic never touches threads or timers directly; it asks
// a Dispatcher, so that tests can run every delay in virtual time.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tovami {

using Task = std::function<void()>;
using Seconds = double;

// Handle to a scheduled one-shot or repeating task. Cancelling is thread-safe and idempotent;
// a cancelled task never starts (one already running finishes).
class WorkItem {
 public:
  WorkItem() = default;
  static WorkItem make() { return WorkItem(std::make_shared<std::atomic<bool>>(false)); }

  void cancel() const {
    if (cancelled_) cancelled_->store(true);
  }
  bool isCancelled() const { return !cancelled_ || cancelled_->load(); }
  // True while the item exists and has not been cancelled (a fired one-shot stays "active").
  bool isActive() const { return cancelled_ && !cancelled_->load(); }

 private:
  explicit WorkItem(std::shared_ptr<std::atomic<bool>> flag) : cancelled_(std::move(flag)) {}
  std::shared_ptr<std::atomic<bool>> cancelled_;
};

// A serial queue: tasks run one at a time, in the order they fall due (FIFO among equals).
class TaskQueue {
 public:
  virtual ~TaskQueue() = default;
  virtual std::string_view label() const = 0;
  virtual void async(Task task) = 0;
  virtual WorkItem asyncAfter(Seconds delay, Task task) = 0;
  // Runs `task` every `interval` seconds, the first time one interval from now, until cancelled.
  virtual WorkItem repeating(Seconds interval, Task task) = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  // Wall-clock time, seconds since the Unix epoch.
  virtual Seconds now() const = 0;
  // Monotonic seconds since an arbitrary origin; never jumps.
  virtual Seconds uptime() const = 0;
};

class Dispatcher {
 public:
  virtual ~Dispatcher() = default;
  virtual TaskQueue& mainQueue() = 0;
  // A new serial background queue with a reverse-domain label such as "app.tovami.agentwatch".
  virtual std::shared_ptr<TaskQueue> makeSerialQueue(std::string label) = 0;
  virtual Clock& clock() = 0;
};

namespace queue_labels {
inline constexpr const char* kAgentWatch = "app.tovami.agentwatch";
inline constexpr const char* kApprovals = "app.tovami.approvals";
inline constexpr const char* kUsage = "app.tovami.usage";
}  // namespace queue_labels

}  // namespace tovami
