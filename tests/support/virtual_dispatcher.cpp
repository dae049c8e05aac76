#include "support/virtual_dispatcher.h"

#include <algorithm>
#include <utility>

namespace tovami::testing {

class VirtualDispatcher::Queue final : public TaskQueue {
 public:
  Queue(VirtualDispatcher& owner, std::string label) : owner_(owner), label_(std::move(label)) {}
  std::string_view label() const override { return label_; }
  size_t posts() const { return posts_; }
  void async(Task task) override { post(0, std::move(task), 0); }
  WorkItem asyncAfter(Seconds delay, Task task) override { return post(delay, std::move(task), 0); }
  WorkItem repeating(Seconds interval, Task task) override {
    return post(interval, std::move(task), interval);
  }

 private:
  WorkItem post(Seconds delay, Task task, Seconds repeatInterval) {
    ++posts_;
    auto item = WorkItem::make();
    owner_.schedule(owner_.now_ + std::max(delay, 0.0), Entry{alive_, std::move(task), item, repeatInterval});
    return item;
  }
  VirtualDispatcher& owner_;
  std::string label_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  size_t posts_ = 0;
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

VirtualDispatcher::~VirtualDispatcher() = default;  // pending tasks go first: they may use the queues

TaskQueue& VirtualDispatcher::mainQueue() {
  return *main_;
}

std::shared_ptr<TaskQueue> VirtualDispatcher::makeSerialQueue(std::string label) {
  return std::make_shared<Queue>(*this, std::move(label));
}

Clock& VirtualDispatcher::clock() {
  return *clock_;
}

void VirtualDispatcher::schedule(Seconds due, Entry entry) {
  pending_.emplace(std::make_pair(due, sequence_++), std::move(entry));
}

void VirtualDispatcher::advance(Seconds seconds) {
  const Seconds target = now_ + seconds;
  while (!pending_.empty() && pending_.begin()->first.first <= target) {
    auto node = pending_.extract(pending_.begin());
    Entry& entry = node.mapped();
    const Seconds due = node.key().first;
    if (entry.item.isCancelled() || entry.queueAlive.expired()) continue;
    now_ = std::max(now_, due);
    entry.task();
    if (entry.repeatInterval > 0 && !entry.item.isCancelled() && !entry.queueAlive.expired())
      schedule(due + entry.repeatInterval, std::move(entry));
  }
  now_ = target;
}

size_t VirtualDispatcher::mainQueuePosts() const {
  return main_->posts();
}

size_t VirtualDispatcher::pendingCount() const {
  return size_t(std::count_if(pending_.begin(), pending_.end(), [](const auto& pair) {
    return !pair.second.item.isCancelled() && !pair.second.queueAlive.expired();
  }));
}

}  // namespace tovami::testing
