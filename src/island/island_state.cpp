#include "island/island_state.h"

#include "app/preference_keys.h"
#include "platform/motion.h"

namespace tovami {

IslandState::IslandState(IslandStateDependencies deps)
    : dispatcher_(deps.dispatcher),
      preferences_(deps.preferences),
      motion_(deps.motion),
      approvalPending_(std::move(deps.approvalPending)) {}

void IslandState::setNapTimerDeadline(std::optional<Seconds> deadline) {
  if (deadline == napTimerDeadline_) return;
  napTimerDeadline_ = deadline;
  notify();
}

void IslandState::setWakeReport(std::optional<NapReport> report) {
  if (report == wakeReport_) return;
  wakeReport_ = report;
  notify();
}

void IslandState::setMode(IslandMode mode) {
  if (mode == mode_) return;
  mode_ = mode;
  notify();
}

void IslandState::setCollapsedSize(Size size) {
  if (size == collapsedSize_) return;
  collapsedSize_ = size;
  notify();
}

void IslandState::setMenuBarHeight(double height) {
  if (height == menuBarHeight_) return;
  menuBarHeight_ = height;
  notify();
}

AnimationCurve IslandState::curve(const AnimationCurve& animated) const {
  return motion_.reduceMotion() ? AnimationCurve::immediate() : animated;
}

void IslandState::setPhase(IslandPhase phase, const AnimationCurve& curve) {
  if (phase == phase_) return;  // a running animation is left alone
  phase_ = phase;
  phaseTransition_ = {curve, dispatcher_.clock().uptime()};
  notify();
}

void IslandState::setHovering(bool hovering) {
  if (hovering == isHovering_) return;
  isHovering_ = hovering;
  hoverTransition_ = {curve(hoverAnimation), dispatcher_.clock().uptime()};
  notify();
}

void IslandState::expand() {
  setPhase(IslandPhase::expanded, curve(expandAnimation));
}

void IslandState::collapse() {
  setPhase(IslandPhase::collapsed, curve(collapseAnimation));
}

void IslandState::reset() {
  hoverTask_.cancel();
  setHovering(false);
  setPhase(IslandPhase::collapsed, AnimationCurve::immediate());
}

void IslandState::closeOrDismiss() {
  if (wakeReport_ && dismissReport_)
    dismissReport_();
  else
    collapse();
}

void IslandState::hoverChanged(bool entered) {
  hoverTask_.cancel();
  if (entered) {
    setHovering(true);
    if (isExpanded() || wakeReport_ || !boolOr(preferences_, prefs::kIslandOpenOnHover, true)) return;
    hoverTask_.schedule(dispatcher_.mainQueue(), kHoverOpenDelay, [this] { expand(); });
    return;
  }
  // The pointer may come back within the delay; then this never runs.
  hoverTask_.schedule(dispatcher_.mainQueue(), kHoverCloseDelay, [this] {
    setHovering(false);
    if (isExpanded() && !(approvalPending_ && approvalPending_())) closeOrDismiss();
  });
}

void IslandState::islandTapped() {
  if (isExpanded()) {
    closeOrDismiss();
    return;
  }
  setWakeReport(std::nullopt);
  expand();
}

int IslandState::addObserver(Observer observer) {
  observers_[nextToken_] = std::move(observer);
  return nextToken_++;
}

void IslandState::removeObserver(int token) {
  observers_.erase(token);
}

void IslandState::notify() {
  // A copy, so that an observer may remove itself.
  for (auto& [token, observer] : std::map<int, Observer>(observers_)) observer();
}

}  // namespace tovami
