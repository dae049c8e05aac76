#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "platform/delayed_work.h"
#include "platform/thread_queue.h"
#include "support/virtual_dispatcher.h"

namespace tovami {
namespace {

using testing::VirtualDispatcher;

TEST(VirtualTime, CancelledReplacedAndOrphanedWorkNeverRuns) {
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
  auto owner = std::make_shared<int>(0);
  dispatcher.mainQueue().asyncAfter(1, weakTask(owner, [&](int&) { fired += 1000; }));
  owner.reset();
  dispatcher.advance(5);
  EXPECT_EQ(fired, 10);
  EXPECT_EQ(dispatcher.pendingCount(), 0u);
}

// The production queue: tasks run in order, cancellation holds, and ending it with delayed work
// pending or from its own task touches no freed memory (AddressSanitizer shows the fault).
TEST(ThreadQueue, RunsInOrderAndEndsCleanlyWithWorkPendingOrFromItsOwnTask) {
  for (int round = 0; round < 50; ++round) {
    std::vector<int> order;
    std::promise<void> done;
    ThreadQueue queue("app.tovami.test");
    queue.asyncAfter(0.01, [&] { order.push_back(-1); }).cancel();
    queue.asyncAfter(60, [] {});
    for (int i = 0; i < 3; ++i) queue.async([&order, i] { order.push_back(i); });
    queue.asyncAfter(round == 0 ? 0.02 : 0, [&] { done.set_value(); });
    done.get_future().wait();  // the worker now waits for the delayed task
    ASSERT_EQ(order, (std::vector<int>{0, 1, 2}));
  }
  std::promise<void> ended;
  auto queue = std::make_shared<ThreadQueue>("app.tovami.test");
  auto* raw = queue.get();
  raw->asyncAfter(60, [] {});
  raw->async([&ended, owned = std::move(queue)]() mutable {
    owned.reset();  // the last owner lets go on the queue's own thread
    ended.set_value();
  });
  ended.get_future().wait();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let the orphaned thread end
}

int threadsOfThisProcess() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.starts_with("Threads:")) return std::stoi(line.substr(8));
  return -1;
}

// Queues are made at start-up and most wait for their first task: each costs a thread only then.
TEST(ThreadQueue, StartsItsThreadWithItsFirstTask) {
  const int before = threadsOfThisProcess();
  std::vector<std::unique_ptr<ThreadQueue>> idle;
  for (int i = 0; i < 4; ++i) idle.push_back(std::make_unique<ThreadQueue>("app.tovami.test"));
  EXPECT_EQ(threadsOfThisProcess(), before);
  std::promise<void> ran;
  idle[0]->async([&ran] { ran.set_value(); });
  ran.get_future().wait();
  EXPECT_EQ(threadsOfThisProcess(), before + 1);
  idle.clear();  // the unused ones end without a thread to join
}

// A task stuck in a blocking call (a FIFO's open, a dead network share) must not keep the
// program from ending: the queue waits a bounded time, then leaves the thread behind.
TEST(ThreadQueue, EndingWaitsForAStuckTaskOnlyABoundedTime) {
  std::promise<void> started, release;
  auto gate = release.get_future().share();
  auto queue = std::make_unique<ThreadQueue>("app.tovami.test", 0.1);
  queue->async([&started, gate] {
    started.set_value();
    gate.wait();
  });
  started.get_future().wait();
  auto ending = std::async(std::launch::async, [&queue] { queue.reset(); });
  const bool ended = ending.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
  release.set_value();
  ending.wait();
  EXPECT_TRUE(ended);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let the left thread end
}

}  // namespace
}  // namespace tovami
