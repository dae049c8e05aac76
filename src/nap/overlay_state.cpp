#include "nap/overlay_state.h"

#include <vector>

namespace tovami {

OverlayState::OverlayState(Dispatcher& dispatcher) : dispatcher_(dispatcher) {}

void OverlayState::reset() {
  hideWorkItem_.cancel();
  lastRescheduleTime_.reset();
  notice_.clear();
  setHintVisible(false);
}

void OverlayState::showHint() {
  if (!hintVisible_) setHintVisible(true);
  const Seconds now = dispatcher_.clock().uptime();
  if (lastRescheduleTime_ && now - *lastRescheduleTime_ <= kRescheduleInterval) return;
  lastRescheduleTime_ = now;
  auto hide = [](OverlayState& state) {
    if (state.hintVisible_) state.setHintVisible(false);
  };
  // Held weakly when the state is shared, so a late timer never touches a gone nap.
  Task task;
  if (auto self = weak_from_this().lock())
    task = weakTask(self, hide);
  else
    task = [this, hide] { hide(*this); };
  hideWorkItem_.schedule(dispatcher_.mainQueue(), kHintDuration, std::move(task));
}

int OverlayState::addObserver(Observer observer) {
  const int token = nextToken_++;
  observers_.emplace(token, std::move(observer));
  return token;
}

void OverlayState::removeObserver(int token) {
  observers_.erase(token);
}

void OverlayState::setHintVisible(bool visible) {
  if (hintVisible_ == visible) return;
  hintVisible_ = visible;
  // Copy first: an observer may add or remove observers.
  std::vector<Observer> current;
  for (const auto& [token, observer] : observers_) current.push_back(observer);
  for (const auto& observer : current) observer(visible);
}

}  // namespace tovami
