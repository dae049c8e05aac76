#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/delayed_work.h"
#include "platform/thread_queue.h"
#include "support/virtual_dispatcher.h"

namespace tovami {
namespace {

using testing::VirtualDispatcher;

TEST(VirtualTime, RunsExactlyWhatFellDueInOrderAcrossQueues) {
  VirtualDispatcher dispatcher;
  auto background = dispatcher.makeSerialQueue(queue_labels::kAgentWatch);
  std::vector<std::string> log;
  dispatcher.mainQueue().asyncAfter(75, [&] { log.push_back("main 75"); });
  background->asyncAfter(3, [&] { log.push_back("bg 3"); });
  dispatcher.mainQueue().asyncAfter(3, [&] { log.push_back("main 3"); });
  dispatcher.mainQueue().asyncAfter(76, [&] { log.push_back("main 76"); });
  dispatcher.mainQueue().async([&] { log.push_back("now"); });

  dispatcher.advance(75);
  EXPECT_EQ(log, (std::vector<std::string>{"now", "bg 3", "main 3", "main 75"}));
  EXPECT_DOUBLE_EQ(dispatcher.elapsed(), 75);
  dispatcher.advance(1);
  EXPECT_EQ(log.back(), "main 76");
}

TEST(VirtualTime, WorkScheduledDuringATaskRunsAtItsOwnTime) {
  VirtualDispatcher dispatcher;
  std::vector<double> at;
  dispatcher.mainQueue().asyncAfter(1, [&] {
    at.push_back(dispatcher.elapsed());
    dispatcher.mainQueue().asyncAfter(0.3, [&] { at.push_back(dispatcher.elapsed()); });
  });
  dispatcher.advance(1.2);
  ASSERT_EQ(at.size(), 1u);
  dispatcher.advance(0.1);
  ASSERT_EQ(at.size(), 2u);
  EXPECT_NEAR(at[1], 1.3, 1e-9);
}

TEST(VirtualTime, CancelledAndReplacedWorkNeverRuns) {
  VirtualDispatcher dispatcher;
  int fired = 0;
  DelayedWork debounce;
  debounce.schedule(dispatcher.mainQueue(), 0.3, [&] { fired += 1; });
  dispatcher.advance(0.2);
  debounce.schedule(dispatcher.mainQueue(), 0.3, [&] { fired += 10; });  // replaces the first
  dispatcher.advance(0.2);
  EXPECT_EQ(fired, 0);
  dispatcher.advance(0.1);
  EXPECT_EQ(fired, 10);

  debounce.schedule(dispatcher.mainQueue(), 1, [&] { fired += 100; });
  debounce.cancel();
  dispatcher.advance(5);
  EXPECT_EQ(fired, 10);
  EXPECT_EQ(dispatcher.pendingCount(), 0u);
}

TEST(VirtualTime, RepeatingTimerFiresEachIntervalUntilCancelled) {
  VirtualDispatcher dispatcher;
  auto queue = dispatcher.makeSerialQueue(queue_labels::kAgentWatch);
  std::vector<double> ticks;
  RepeatingTimer timer;
  timer.start(*queue, 3, [&] { ticks.push_back(dispatcher.elapsed()); });
  dispatcher.advance(10);
  EXPECT_EQ(ticks, (std::vector<double>{3, 6, 9}));
  timer.cancel();
  dispatcher.advance(10);
  EXPECT_EQ(ticks.size(), 3u);
}

TEST(VirtualTime, WeakTaskDoesNothingOnceItsOwnerIsGone) {
  VirtualDispatcher dispatcher;
  struct Service {
    int runs = 0;
  };
  auto service = std::make_shared<Service>();
  int observed = 0;
  dispatcher.mainQueue().asyncAfter(1, weakTask(service, [&](Service& s) { observed = ++s.runs; }));
  dispatcher.mainQueue().asyncAfter(2, weakTask(service, [&](Service&) { observed = 99; }));
  dispatcher.advance(1);
  service.reset();
  dispatcher.advance(1);
  EXPECT_EQ(observed, 1);
}

TEST(VirtualTime, WallClockShiftsWithoutMovingTheMonotonicClock) {
  VirtualDispatcher dispatcher(1000);
  auto& clock = dispatcher.clock();
  double up = clock.uptime();
  dispatcher.advance(5);
  dispatcher.shiftWallClock(-3600);
  EXPECT_DOUBLE_EQ(clock.now(), 1000 + 5 - 3600);
  EXPECT_DOUBLE_EQ(clock.uptime(), up + 5);
}

// The production background queue: tasks run serially, in order, and cancellation holds.
TEST(ThreadQueue, RunsTasksInOrderAndHonoursCancellation) {
  std::vector<int> order;
  {
    ThreadQueue queue("app.tovami.test");
    std::atomic<bool> done{false};
    auto cancelled = queue.asyncAfter(0.01, [&] { order.push_back(-1); });
    cancelled.cancel();
    for (int i = 0; i < 5; ++i) queue.async([&order, i] { order.push_back(i); });
    queue.asyncAfter(0.02, [&] { done = true; });
    while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
}

}  // namespace
}  // namespace tovami
