// Production time and threads: the main queue is the Qt event loop, background queues are
// threads, clocks are the system's.
#pragma once

#include <QObject>
#include <memory>

#include "platform/scheduler.h"
#include "platform/thread_queue.h"

namespace tovami::linux_backend {

class QtMainQueue final : public TaskQueue {
 public:
  // Must be constructed on the main thread once a QCoreApplication exists.
  QtMainQueue();
  ~QtMainQueue() override;
  std::string_view label() const override { return "main"; }
  void async(Task task) override;
  WorkItem asyncAfter(Seconds delay, Task task) override;
  WorkItem repeating(Seconds interval, Task task) override;

 private:
  void startTimer(Seconds delay, Task task, WorkItem item, bool repeat);
  std::unique_ptr<QObject> context_;
};

class QtDispatcher final : public Dispatcher {
 public:
  TaskQueue& mainQueue() override { return main_; }
  std::shared_ptr<TaskQueue> makeSerialQueue(std::string label) override {
    return std::make_shared<ThreadQueue>(std::move(label));
  }
  Clock& clock() override { return clock_; }

 private:
  QtMainQueue main_;
  SystemClock clock_;
};

}  // namespace tovami::linux_backend
