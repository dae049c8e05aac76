#include "peers/usage_tracker.h"

#include <algorithm>
#include <cmath>
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
  notify();
}

void UsageState::setBackoff(std::optional<UsageBackoff> backoff) {
  if (backoff == backoff_) return;
  backoff_ = std::move(backoff);
  notify();
}

void UsageState::notify() {
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
  next_.cancel();
}

void UsageTracker::start() {
  if (!deps_.preferences.boolValue(prefs::kUsageTracking) || running_ || !queue_) return;
  running_ = true;
  ++generation_;
  scheduleAttempt(kFirstFetchDelay);
}

void UsageTracker::shutDown() {
  ended_ = true;
  stop();
  queue_.reset();
}

void UsageTracker::stop() {
  running_ = false;
  fetching_ = false;
  ++generation_;
  next_.cancel();
  backoffWait_ = 0;
  reported_.clear();
  lastReportUptime_.reset();
  state_.setSnapshot(std::nullopt);
  state_.setBackoff(std::nullopt);
}

void UsageTracker::scheduleAttempt(Seconds delay) {
  next_.cancel();
  next_ = deps_.dispatcher.mainQueue().asyncAfter(
      delay, weakTask(shared_from_this(), [generation = generation_](UsageTracker& self) { self.attempt(generation); }));
}

void UsageTracker::attempt(uint64_t generation) {
  if (generation != generation_ || !running_ || fetching_ || !queue_) return;
  const Seconds now = deps_.dispatcher.clock().uptime();
  if (lastReportUptime_ && now - *lastReportUptime_ < kFeedFreshness)
    return scheduleAttempt(*lastReportUptime_ + kFeedFreshness - now);
  fetching_ = true;
  queue_->async(weakTask(shared_from_this(), [generation](UsageTracker& self) {
    const Outcome outcome = self.fetch();
    if (self.ended_) return;  // the program ended while the fetch was stuck
    self.deps_.dispatcher.mainQueue().async(
        weakTask(self.shared_from_this(), [generation, outcome](UsageTracker& tracker) { tracker.fetched(generation, outcome); }));
  }));
}

// On the usage queue.
UsageTracker::Outcome UsageTracker::fetch() {
  Outcome outcome;
  auto bytes = deps_.credentials ? deps_.credentials->read() : std::nullopt;
  if (ended_) return outcome;
  auto token = bytes ? accessTokenFrom(*bytes) : std::nullopt;
  if (!token) {
    outcome.noToken = true;
    return outcome;
  }
  HttpResponse response;
  if (deps_.http)
    response = deps_.http->get(deps_.endpoint,
                               {{"Authorization", "Bearer " + *token}, {"anthropic-beta", kBetaHeader}},
                               kRequestTimeout);
  token->assign(token->size(), '\0');  // not kept beyond the request
  outcome.status = response.status;
  outcome.retryAfter = retryAfterSeconds(response.retryAfter);
  auto body = response.status == 200 && !response.body.empty() ? json_bounds::parse(response.body) : nlohmann::json();
  if (body.is_object()) {
    outcome.snapshot = usageSnapshotFrom(body, deps_.dispatcher.clock().now());
  } else {
    logInfo(kCategory, "usage: fetch failed (HTTP " + std::to_string(response.status) + ")" +
                           (response.error.empty() ? "" : ": " + response.error));
  }
  return outcome;
}

void UsageTracker::fetched(uint64_t generation, const Outcome& outcome) {
  if (generation != generation_ || !running_) return;  // dropped after a stop
  fetching_ = false;
  if (outcome.noToken) {
    // Claude Code's status line needs no token: with the feed on the tracker waits for it.
    if (reported_.empty() && !deps_.preferences.boolValue(prefs::kStatusLineFeed)) {
      logInfo(kCategory, "usage: no token available; stopping tracker");
      return stop();
    }
    return scheduleAttempt(kFetchInterval);
  }
  const bool busy = outcome.status == 429 || (outcome.status >= 500 && outcome.status <= 599);
  if (busy) {
    // Never sooner than the usual interval; an endpoint that keeps refusing is asked ever less often.
    const Seconds wait =
        outcome.retryAfter ? std::clamp(*outcome.retryAfter, kFetchInterval, kLongestRetryAfter)
                           : std::min(backoffWait_ > 0 ? 2 * backoffWait_ : 2 * kFetchInterval, kLongestBackoff);
    backoffWait_ = wait;
    logInfo(kCategory, "usage: the endpoint answered " + std::to_string(outcome.status) + "; asking again in " +
                           std::to_string(static_cast<long long>(wait)) + " s");
    state_.setBackoff(UsageBackoff{outcome.status, deps_.dispatcher.clock().now() + wait});
    return scheduleAttempt(wait);
  }
  if (outcome.snapshot) {
    backoffWait_ = 0;
    state_.setBackoff(std::nullopt);
    state_.setSnapshot(outcome.snapshot);
  }
  scheduleAttempt(kFetchInterval);
}

void UsageTracker::reportStatusLine(const StatusLineFeed& feed) {
  if (!running_ || (!feed.fiveHour && !feed.sevenDay)) return;
  std::string key = feed.sessionId ? "id:" + *feed.sessionId
                                   : "pid:" + std::to_string(feed.pids.empty() ? 0 : feed.pids.front());
  const Seconds now = deps_.dispatcher.clock().uptime();
  reported_[key] = Reported{feed.fiveHour, feed.sevenDay, now};
  if (reported_.size() > 64)
    reported_.erase(std::min_element(reported_.begin(), reported_.end(), [](const auto& a, const auto& b) {
      return a.second.uptime < b.second.uptime;
    }));
  lastReportUptime_ = now;
  publishReported();
}

void UsageTracker::publishReported() {
  const Seconds wall = deps_.dispatcher.clock().now();
  // Per window: the newest reset (resets within a minute are one window), and in it the highest use.
  constexpr Seconds kSameReset = 60;
  auto highest = [&](std::optional<RateWindow> Reported::*window) {
    std::optional<RateWindow> best;
    for (const auto& [key, reported] : reported_) {
      const auto& candidate = reported.*window;
      if (!candidate || candidate->resetsAt <= wall) continue;
      if (!best || candidate->resetsAt > best->resetsAt + kSameReset) {
        best = candidate;
      } else if (candidate->resetsAt >= best->resetsAt - kSameReset) {
        best->usedPercentage = std::max(best->usedPercentage, candidate->usedPercentage);
        best->resetsAt = std::max(best->resetsAt, candidate->resetsAt);
      }
    }
    return best;
  };
  const auto fiveHour = highest(&Reported::fiveHour), sevenDay = highest(&Reported::sevenDay);
  if (!fiveHour && !sevenDay) return;
  UsageSnapshot snapshot;
  snapshot.source = UsageSource::statusLine;
  snapshot.fetchedAt = wall;
  if (fiveHour) {
    snapshot.fiveHourPct = static_cast<int>(std::lround(fiveHour->usedPercentage));
    snapshot.fiveHourResets = fiveHour->resetsAt;
  }
  if (sevenDay) {
    snapshot.sevenDayPct = static_cast<int>(std::lround(sevenDay->usedPercentage));
    snapshot.sevenDayResets = sevenDay->resetsAt;
  }
  if (!state_.snapshot() || state_.snapshot()->source != UsageSource::statusLine)
    logInfo(kCategory, "usage: figures from Claude Code's status line");
  state_.setBackoff(std::nullopt);
  state_.setSnapshot(snapshot);
}

}  // namespace tovami
