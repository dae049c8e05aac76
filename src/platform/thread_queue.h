// A serial background queue backed by one thread, with delayed and repeating tasks.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "platform/scheduler.h"

namespace tovami {

class ThreadQueue final : public TaskQueue {
 public:
  explicit ThreadQueue(std::string label);
  // Drops tasks not yet started and joins the thread (waits for a running task).
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
  void enqueue(TimePoint due, Entry entry);
  void run();

  std::string label_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::multimap<std::pair<TimePoint, unsigned long long>, Entry> pending_;
  unsigned long long sequence_ = 0;
  bool stopping_ = false;
  std::thread thread_;
};

class SystemClock final : public Clock {
 public:
  Seconds now() const override;
  Seconds uptime() const override;
};

}  // namespace tovami
