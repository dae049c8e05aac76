// Deterministic virtual time for tests: every queue (main and background) shares one timeline,
// and nothing runs until the test advances it. Tasks run in the order they fall due; tasks due
// at the same instant run in the order they were scheduled.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/scheduler.h"

namespace tovami::testing {

class VirtualDispatcher final : public Dispatcher {
 public:
  explicit VirtualDispatcher(Seconds startWallTime = 1'800'000'000.0);
  ~VirtualDispatcher() override;

  TaskQueue& mainQueue() override;
  std::shared_ptr<TaskQueue> makeSerialQueue(std::string label) override;
  Clock& clock() override;

  // Runs everything due now, including work that it schedules for now.
  void runUntilIdle() { advance(0); }
  // Moves time forward by `seconds`, running each task at its due time.
  void advance(Seconds seconds);
  // Moves the wall clock alone (a system clock change); the monotonic clock is unaffected.
  void shiftWallClock(Seconds seconds) { wallOffset_ += seconds; }

  Seconds elapsed() const { return now_; }
  // Number of tasks waiting (cancelled ones and those of destroyed queues excluded).
  size_t pendingCount() const;
  // Number of tasks handed to the main queue so far: how often another thread woke it.
  size_t mainQueuePosts() const;

 private:
  class Queue;
  class VirtualClock;
  struct Entry {
    std::weak_ptr<bool> queueAlive;
    Task task;
    WorkItem item;
    Seconds repeatInterval;
  };
  void schedule(Seconds due, Entry entry);

  Seconds now_ = 0;
  Seconds wallOffset_;
  unsigned long long sequence_ = 0;
  std::unique_ptr<Queue> main_;
  std::unique_ptr<VirtualClock> clock_;
  std::multimap<std::pair<Seconds, unsigned long long>, Entry> pending_;
};

}  // namespace tovami::testing
