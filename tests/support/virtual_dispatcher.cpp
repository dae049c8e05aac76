#include "support/virtual_dispatcher.h"

#include <utility>

namespace tovami::testing {

class VirtualDispatcher::Queue final : public TaskQueue {
 public:
  Queue(VirtualDispatcher& owner, std::string label)
      : owner_(owner), label_(std::move(label)), alive_(std::make_shared<bool>(true)) {}
  std::string_view label() const override { return label_; }
  void async(Task task) override {
    owner_.schedule(this, alive_, owner_.now_, std::move(task), WorkItem::make(), 0);
  }
  WorkItem asyncAfter(Seconds delay, Task task) override {
    auto item = WorkItem::make();
    owner_.schedule(this, alive_, owner_.now_ + (delay < 0 ? 0 : delay), std::move(task), item, 0);
    return item;
  }
  WorkItem repeating(Seconds interval, Task task) override {
    auto item = WorkItem::make();
    owner_.schedule(this, alive_, owner_.now_ + interval, std::move(task), item, interval);
    return item;
  }
  const std::shared_ptr<bool>& alive() const { return alive_; }

 private:
  VirtualDispatcher& owner_;
  std::string label_;
  std::shared_ptr<bool> alive_;
};

class VirtualDispatcher::VirtualClock final : public Clock {
 public:
  explicit VirtualClock(const VirtualDispatcher& owner) : owner_(owner) {}
  Seconds now() const override { return owner_.wallOffset_ + owner_.now_; }
  Seconds uptime() const override { return 1000.0 + owner_.now_; }

 private:
  const VirtualDispatcher& owner_;
};

VirtualDispatcher::VirtualDispatcher(Seconds startWallTime)
    : wallOffset_(startWallTime),
      main_(std::make_unique<Queue>(*this, "main")),
      clock_(std::make_unique<VirtualClock>(*this)) {}

VirtualDispatcher::~VirtualDispatcher() {
  pending_.clear();
}

TaskQueue& VirtualDispatcher::mainQueue() {
  return *main_;
}

std::shared_ptr<TaskQueue> VirtualDispatcher::makeSerialQueue(std::string label) {
  labels_.push_back(label);
  return std::make_shared<Queue>(*this, std::move(label));
}

Clock& VirtualDispatcher::clock() {
  return *clock_;
}

void VirtualDispatcher::schedule(Queue* queue, const std::shared_ptr<bool>& alive, Seconds due, Task task,
                                 WorkItem item, Seconds repeatInterval) {
  pending_.emplace(std::make_pair(due, sequence_++),
                   Entry{queue, alive, std::move(task), std::move(item), repeatInterval});
}

bool VirtualDispatcher::runNextDueBy(Seconds limit) {
  while (!pending_.empty()) {
    auto first = pending_.begin();
    if (first->first.first > limit) return false;
    Entry entry = std::move(first->second);
    Seconds due = first->first.first;
    pending_.erase(first);
    if (entry.item.isCancelled() || entry.queueAlive.expired()) continue;
    if (due > now_) now_ = due;
    entry.task();
    if (entry.repeatInterval > 0 && !entry.item.isCancelled() && !entry.queueAlive.expired()) {
      auto alive = entry.queueAlive.lock();
      schedule(entry.queue, alive, due + entry.repeatInterval, std::move(entry.task), entry.item,
               entry.repeatInterval);
    }
    return true;
  }
  return false;
}

void VirtualDispatcher::runUntilIdle() {
  while (runNextDueBy(now_)) {
  }
}

void VirtualDispatcher::advance(Seconds seconds) {
  Seconds target = now_ + seconds;
  while (runNextDueBy(target)) {
  }
  now_ = target;
}

void VirtualDispatcher::shiftWallClock(Seconds seconds) {
  wallOffset_ += seconds;
}

size_t VirtualDispatcher::pendingCount() const {
  size_t n = 0;
  for (const auto& [key, entry] : pending_)
    if (!entry.item.isCancelled() && !entry.queueAlive.expired()) ++n;
  return n;
}

std::vector<std::string> VirtualDispatcher::queueLabels() const {
  return labels_;
}

}  // namespace tovami::testing
