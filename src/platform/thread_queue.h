// A serial background queue backed by one thread, started by its first task, with delayed and
// repeating tasks.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/scheduler.h"

namespace tovami {

class ThreadQueue final : public TaskQueue {
 public:
  // How long the end waits for a running task by default: a request's own time-out is longer,
  // but nothing a queue runs is worth keeping the program from ending.
  static constexpr Seconds kEndWait = 3.0;

  explicit ThreadQueue(std::string label, Seconds endWait = kEndWait);
  // Drops tasks not yet started and joins the thread (waits for a running task). A task still
  // running after `endWait` (stuck in a blocking call) is left behind with a log line; the
  // thread then ends with it. Destroyed from one of its own tasks, it lets the thread finish
  // that task and end by itself.
  ~ThreadQueue() override;

  std::string_view label() const override { return label_; }
  void async(Task task) override;
  WorkItem asyncAfter(Seconds delay, Task task) override;
  WorkItem repeating(Seconds interval, Task task) override;

 private:
  using TimePoint = std::chrono::steady_clock::time_point;
  struct Entry {
    Task task;
    WorkItem item;
    Seconds repeatInterval = 0;  // > 0 for repeating tasks
  };
  // Shared with the thread, so that it outlives a queue destroyed from its own task.
  struct State {
    std::mutex mutex;
    std::condition_variable wake;
    std::multimap<std::pair<TimePoint, unsigned long long>, Entry> pending;
    unsigned long long sequence = 0;
    bool stopping = false;
    bool ended = false;  // the thread has left its loop
  };
  void enqueue(TimePoint due, Entry entry);
  static void run(const std::shared_ptr<State>& state);

  std::string label_;
  Seconds endWait_;
  std::shared_ptr<State> state_;
  std::once_flag started_;
  std::thread thread_;  // started by the first task
};

class SystemClock final : public Clock {
 public:
  Seconds now() const override;
  Seconds uptime() const override;
};

}  // namespace tovami
