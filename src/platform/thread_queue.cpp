#include "platform/thread_queue.h"

#include <utility>

namespace tovami {
namespace {

std::chrono::steady_clock::duration toDuration(Seconds s) {
  if (s < 0) s = 0;
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(s));
}

}  // namespace

ThreadQueue::ThreadQueue(std::string label) : label_(std::move(label)), thread_([this] { run(); }) {}

ThreadQueue::~ThreadQueue() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    pending_.clear();
  }
  wake_.notify_all();
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id())
      thread_.detach();  // destroyed from its own task: let the thread wind down by itself
    else
      thread_.join();
  }
}

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
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    pending_.emplace(std::make_pair(due, sequence_++), std::move(entry));
  }
  wake_.notify_all();
}

void ThreadQueue::run() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (pending_.empty()) {
      wake_.wait(lock);
      continue;
    }
    auto first = pending_.begin();
    if (first->first.first > std::chrono::steady_clock::now()) {
      wake_.wait_until(lock, first->first.first);
      continue;
    }
    Entry entry = std::move(first->second);
    auto due = first->first.first;
    pending_.erase(first);
    if (entry.item.isCancelled()) continue;
    lock.unlock();
    entry.task();
    lock.lock();
    if (entry.repeatInterval > 0 && !entry.item.isCancelled() && !stopping_) {
      auto next = due + toDuration(entry.repeatInterval);
      auto now = std::chrono::steady_clock::now();
      if (next < now) next = now;  // skip missed beats rather than bursting
      pending_.emplace(std::make_pair(next, sequence_++), std::move(entry));
    }
  }
}

Seconds SystemClock::now() const {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

Seconds SystemClock::uptime() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace tovami
