// Everything the island's drawing depends on that no other service owns: open or closed, the
// pointer over it, the scheduled nap, the wake report, the display kind and the collapsed size.
// It also runs the hover rule: the island opens 300 ms after the pointer enters and closes
// 100 ms after it leaves. Main thread only; observers run after every published change.
#pragma once

#include <functional>
#include <map>
#include <optional>

#include "island/island_animation.h"
#include "island/island_types.h"
#include "nap/nap_report.h"
#include "platform/delayed_work.h"
#include "platform/geometry.h"

namespace tovami {

class MotionSettings;
class PreferenceStore;

struct IslandStateDependencies {
  Dispatcher& dispatcher;
  PreferenceStore& preferences;
  const MotionSettings& motion;
  std::function<bool()> approvalPending;  // empty: never
};

class IslandState {
 public:
  using Observer = std::function<void()>;
  static constexpr Seconds kHoverOpenDelay = 0.3;
  static constexpr Seconds kHoverCloseDelay = 0.1;
  static constexpr Size kInitialCollapsedSize{200, 32};
  static constexpr double kMinimumMenuBarHeight = 24;

  explicit IslandState(IslandStateDependencies deps);
  IslandState(const IslandState&) = delete;
  IslandState& operator=(const IslandState&) = delete;

  IslandPhase phase() const { return phase_; }
  bool isExpanded() const { return phase_ == IslandPhase::expanded; }
  bool isHovering() const { return isHovering_; }
  // Wall-clock time at which a scheduled nap begins.
  std::optional<Seconds> napTimerDeadline() const { return napTimerDeadline_; }
  const std::optional<NapReport>& wakeReport() const { return wakeReport_; }
  IslandMode mode() const { return mode_; }
  Size collapsedSize() const { return collapsedSize_; }
  double menuBarHeight() const { return menuBarHeight_; }
  // The last phase change and the last hover change: how the view eases between the two looks.
  const Transition& phaseTransition() const { return phaseTransition_; }
  const Transition& hoverTransition() const { return hoverTransition_; }
  bool hasPendingHoverAction() const { return hoverTask_.isScheduled(); }

  void setNapTimerDeadline(std::optional<Seconds> deadline);
  void setWakeReport(std::optional<NapReport> report);
  void setMode(IslandMode mode);
  void setCollapsedSize(Size size);
  void setMenuBarHeight(double height);
  // What closing the wake report means; the controller owns its timers.
  void setDismissReport(std::function<void()> dismiss) { dismissReport_ = std::move(dismiss); }

  void expand();
  void collapse();
  // Closed at once, not hovered, no hover action pending.
  void reset();
  // The pointer entered (true) or left (false) the island outline.
  void hoverChanged(bool entered);
  // A single click on the island.
  void islandTapped();

  int addObserver(Observer observer);
  void removeObserver(int token);

 private:
  AnimationCurve curve(const AnimationCurve& animated) const;
  void setPhase(IslandPhase phase, const AnimationCurve& animated);
  void setHovering(bool hovering);
  void closeOrDismiss();
  void notify();

  Dispatcher& dispatcher_;
  PreferenceStore& preferences_;
  const MotionSettings& motion_;
  std::function<bool()> approvalPending_;
  std::function<void()> dismissReport_;

  IslandPhase phase_ = IslandPhase::collapsed;
  bool isHovering_ = false;
  std::optional<Seconds> napTimerDeadline_;
  std::optional<NapReport> wakeReport_;
  IslandMode mode_ = IslandMode::notch;
  Size collapsedSize_ = kInitialCollapsedSize;
  double menuBarHeight_ = kMinimumMenuBarHeight;
  Transition phaseTransition_;
  Transition hoverTransition_;
  DelayedWork hoverTask_;  // not published

  std::map<int, Observer> observers_;
  int nextToken_ = 1;
};

}  // namespace tovami
