// What the drawing benchmarks share: a dispatcher whose timers never start (figures are drawn as
// they stand) and one off-screen Qt application.
#pragma once

#include <QGuiApplication>
#include <cstdlib>
#include <memory>

#include "platform/scheduler.h"
#include "platform/thread_queue.h"

namespace tovami::bench {

// Timers are never started here: the scene is drawn as it stands.
class StillDispatcher final : public Dispatcher {
 public:
  class NoQueue final : public TaskQueue {
   public:
    std::string_view label() const override { return "still"; }
    void async(Task) override {}
    WorkItem asyncAfter(Seconds, Task) override { return WorkItem::make(); }
    WorkItem repeating(Seconds, Task) override { return WorkItem::make(); }
  };
  TaskQueue& mainQueue() override { return queue_; }
  std::shared_ptr<TaskQueue> makeSerialQueue(std::string) override { return std::make_shared<NoQueue>(); }
  Clock& clock() override { return clock_; }

 private:
  NoQueue queue_;
  SystemClock clock_;
};

inline void ensureApplication() {
  static std::unique_ptr<QGuiApplication> app = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "bench";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QGuiApplication>(argc, argv);
  }();
}

}  // namespace tovami::bench
