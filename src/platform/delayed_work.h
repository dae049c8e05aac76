// A field that holds at most one pending delayed action. Scheduling a new one cancels the
// previous one first, so a field named after its purpose never fires twice.
#pragma once

#include <memory>
#include <utility>

#include "platform/scheduler.h"

namespace tovami {

class DelayedWork {
 public:
  DelayedWork() = default;
  DelayedWork(const DelayedWork&) = delete;
  DelayedWork& operator=(const DelayedWork&) = delete;
  ~DelayedWork() { cancel(); }

  void schedule(TaskQueue& queue, Seconds delay, Task task) {
    cancel();
    item_ = queue.asyncAfter(delay, std::move(task));
  }
  void cancel() {
    item_.cancel();
    item_ = WorkItem();
  }
  // True from scheduling until it is cancelled or replaced (a fired action counts as pending
  // until its owner clears the field).
  bool isScheduled() const { return item_.isActive(); }

 private:
  WorkItem item_;
};

// A repeating timer owned by a field; cancelled when replaced or destroyed.
class RepeatingTimer {
 public:
  RepeatingTimer() = default;
  RepeatingTimer(const RepeatingTimer&) = delete;
  RepeatingTimer& operator=(const RepeatingTimer&) = delete;
  ~RepeatingTimer() { cancel(); }

  void start(TaskQueue& queue, Seconds interval, Task task) {
    cancel();
    item_ = queue.repeating(interval, std::move(task));
  }
  void cancel() {
    item_.cancel();
    item_ = WorkItem();
  }
  bool isRunning() const { return item_.isActive(); }

 private:
  WorkItem item_;
};

// Wraps `fn` so that it runs only while `owner` is alive: delayed work holds services weakly.
template <typename T, typename Fn>
Task weakTask(const std::shared_ptr<T>& owner, Fn fn) {
  return [weak = std::weak_ptr<T>(owner), fn = std::move(fn)]() mutable {
    if (auto self = weak.lock()) fn(*self);
  };
}

}  // namespace tovami
