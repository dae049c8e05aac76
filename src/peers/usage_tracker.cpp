#include "peers/usage_tracker.h"

#include <nlohmann/json.hpp>

#include "app/preference_keys.h"
#include "peers/json_bounds.h"
#include "platform/delayed_work.h"
#include "platform/log.h"
#include "platform/preferences_store.h"

namespace tovami {
namespace {
constexpr auto kCategory = log_categories::kUsage;
}

void UsageState::setSnapshot(std::optional<UsageSnapshot> snapshot) {
  if (snapshot == snapshot_) return;
  snapshot_ = std::move(snapshot);
  auto observers = observers_;
  for (auto& [token, observer] : observers) observer();
}

int UsageState::addObserver(std::function<void()> observer) {
  observers_[nextToken_] = std::move(observer);
  return nextToken_++;
}

void UsageState::removeObserver(int token) {
  observers_.erase(token);
}

std::optional<std::string> CredentialFile::read() {
  if (path_.empty()) return std::nullopt;
  auto contents = files_->read(path_);
  if (contents.status != FileContents::Status::ok) return std::nullopt;
  return std::move(contents.bytes);
}

UsageTracker::UsageTracker(UsageTrackerDependencies deps)
    : deps_(std::move(deps)), queue_(deps_.dispatcher.makeSerialQueue(queue_labels::kUsage)) {}

UsageTracker::~UsageTracker() {
  firstFetch_.cancel();
  arming_.cancel();
  timer_.cancel();
}

Task UsageTracker::fetchTask(uint64_t generation) {
  return weakTask(shared_from_this(), [generation](UsageTracker& self) { self.fetch(generation); });
}

void UsageTracker::start() {
  if (!deps_.preferences.boolValue(prefs::kUsageTracking) || running_ || !queue_) return;
  running_ = true;
  const uint64_t generation = ++generation_;
  firstFetch_ = queue_->asyncAfter(kFirstFetchDelay, fetchTask(generation));
  // The repeating timer starts with the first fetch, so that fetches fall 1 s + k * 300 s after start.
  arming_ = deps_.dispatcher.mainQueue().asyncAfter(
      kFirstFetchDelay, weakTask(shared_from_this(), [generation](UsageTracker& self) {
        if (self.generation_ == generation && self.running_)
          self.timer_ = self.queue_->repeating(kFetchInterval, self.fetchTask(generation));
      }));
}

void UsageTracker::shutDown() {
  ended_ = true;
  stop();
  queue_.reset();
}

void UsageTracker::stop() {
  running_ = false;
  ++generation_;
  firstFetch_.cancel();
  arming_.cancel();
  timer_.cancel();
  state_.setSnapshot(std::nullopt);
}

// On the usage queue.
void UsageTracker::fetch(uint64_t generation) {
  auto bytes = deps_.credentials ? deps_.credentials->read() : std::nullopt;
  if (ended_) return;  // the program ended while the read was stuck
  auto token = bytes ? accessTokenFrom(*bytes) : std::nullopt;
  if (!token) {
    logInfo(kCategory, "usage: no token available; stopping tracker");
    deps_.dispatcher.mainQueue().async(weakTask(shared_from_this(), [generation](UsageTracker& self) {
      if (self.generation_ == generation) self.stop();
    }));
    return;
  }
  HttpResponse response;
  if (deps_.http)
    response = deps_.http->get(deps_.endpoint,
                               {{"Authorization", "Bearer " + *token}, {"anthropic-beta", kBetaHeader}},
                               kRequestTimeout);
  token->assign(token->size(), '\0');  // not kept beyond the request
  if (ended_) return;
  auto body = response.status == 200 && !response.body.empty()
                  ? json_bounds::parse(response.body)
                  : nlohmann::json();
  if (!body.is_object()) {
    logInfo(kCategory, "usage: fetch failed (HTTP " + std::to_string(response.status) + ")" +
                           (response.error.empty() ? "" : ": " + response.error));
    return;
  }
  auto snapshot = usageSnapshotFrom(body, deps_.dispatcher.clock().now());
  deps_.dispatcher.mainQueue().async(weakTask(shared_from_this(), [generation, snapshot](UsageTracker& self) {
    if (self.generation_ == generation && self.running_)
      self.state_.setSnapshot(snapshot);  // dropped after a stop
  }));
}

}  // namespace tovami
