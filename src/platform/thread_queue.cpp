#include "platform/thread_queue.h"

#include <string>
#include <utility>

#include "platform/log.h"

namespace tovami {
namespace {

std::chrono::steady_clock::duration toDuration(Seconds s) {
  if (s < 0) s = 0;
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(s));
}

}  // namespace

ThreadQueue::ThreadQueue(std::string label, Seconds endWait)
    : label_(std::move(label)),
      endWait_(endWait),
      state_(std::make_shared<State>()) {}

ThreadQueue::~ThreadQueue() {
  decltype(State::pending) dropped;
  {
    std::lock_guard lock(state_->mutex);
    state_->stopping = true;
    dropped.swap(state_->pending);
  }
  state_->wake.notify_all();
  if (!thread_.joinable()) return;
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();  // destroyed from its own task: the thread ends after it
    return;
  }
  bool ended = false;
  {
    std::unique_lock lock(state_->mutex);
    ended = state_->wake.wait_for(lock, toDuration(endWait_), [&] { return state_->ended; });
  }
  if (ended) {
    thread_.join();
    return;
  }
  logError(log_categories::kApp, "queue " + label_ + ": a task is still running after " +
                                     std::to_string(int(endWait_ * 1000)) + " ms; ending without it");
  thread_.detach();
}  // dropped tasks are destroyed here, outside the lock (they may own things that post work)

void ThreadQueue::async(Task task) {
  enqueue(std::chrono::steady_clock::now(), Entry{std::move(task), WorkItem::make(), 0});
}

WorkItem ThreadQueue::asyncAfter(Seconds delay, Task task) {
  auto item = WorkItem::make();
  enqueue(std::chrono::steady_clock::now() + toDuration(delay), Entry{std::move(task), item, 0});
  return item;
}

WorkItem ThreadQueue::repeating(Seconds interval, Task task) {
  auto item = WorkItem::make();
  enqueue(std::chrono::steady_clock::now() + toDuration(interval), Entry{std::move(task), item, interval});
  return item;
}

void ThreadQueue::enqueue(TimePoint due, Entry entry) {
  {
    std::lock_guard lock(state_->mutex);
    if (state_->stopping) return;
    state_->pending.emplace(std::make_pair(due, state_->sequence++), std::move(entry));
  }
  // The thread starts with the first task: a queue made at start-up and not used yet (or ever)
  // costs the start no thread.
  std::call_once(started_, [this] { thread_ = std::thread([state = state_] { run(state); }); });
  state_->wake.notify_all();
}

void ThreadQueue::run(const std::shared_ptr<State>& state) {
  std::unique_lock lock(state->mutex);
  while (!state->stopping) {
    if (state->pending.empty()) {
      state->wake.wait(lock);
      continue;
    }
    auto first = state->pending.begin();
    const TimePoint due = first->first.first;  // a copy: the node may go while we wait
    if (due > std::chrono::steady_clock::now()) {
      state->wake.wait_until(lock, due);
      continue;
    }
    Entry entry = std::move(first->second);
    state->pending.erase(first);
    if (entry.item.isCancelled()) continue;
    lock.unlock();
    entry.task();
    lock.lock();
    if (entry.repeatInterval > 0 && !entry.item.isCancelled() && !state->stopping) {
      auto next = due + toDuration(entry.repeatInterval);
      auto now = std::chrono::steady_clock::now();
      if (next < now) next = now;  // skip missed beats rather than bursting
      state->pending.emplace(std::make_pair(next, state->sequence++), std::move(entry));
    }
  }
  state->ended = true;
  state->wake.notify_all();
}

Seconds SystemClock::now() const {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

Seconds SystemClock::uptime() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace tovami
