// The wake hint's timing, one per nap controller and shared by every blackout window: shown
// at the first touch during a nap and hidden 3.5 s after the last one.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "nap/nap_overlay_hints.h"
#include "platform/delayed_work.h"
#include "platform/scheduler.h"

namespace tovami {

class OverlayState final : public NapOverlayHints, public std::enable_shared_from_this<OverlayState> {
 public:
  using Observer = std::function<void(bool hintVisible)>;

  static constexpr Seconds kHintDuration = 3.5;
  static constexpr Seconds kRescheduleInterval = 0.25;

  explicit OverlayState(Dispatcher& dispatcher);

  // At the start of every nap: no hint and no pending hide.
  void reset() override;
  // For every touch during a nap (a non-wake key, a key repeat, pointer motion).
  void showHint() override;

  void showNotice(const std::string& text) override { notice_ = text; }
  const std::string& notice() const { return notice_; }

  bool hintVisible() const { return hintVisible_; }
  // Observers run on the main thread whenever hintVisible changes.
  int addObserver(Observer observer);
  void removeObserver(int token);

 private:
  void setHintVisible(bool visible);

  Dispatcher& dispatcher_;
  bool hintVisible_ = false;
  std::string notice_;
  DelayedWork hideWorkItem_;
  // Monotonic time of the last re-arm; empty until the first touch of a nap.
  std::optional<Seconds> lastRescheduleTime_;
  std::map<int, Observer> observers_;
  int nextToken_ = 1;
};

}  // namespace tovami
