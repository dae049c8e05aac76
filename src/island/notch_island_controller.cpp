#include "island/notch_island_controller.h"

#include <algorithm>
#include <cmath>

#include "app/preference_keys.h"
#include "platform/log.h"
#include "platform/motion.h"
#include "platform/preferences_store.h"

namespace tovami {
namespace {

bool positiveSize(double width, double height) {
  return std::isfinite(width) && std::isfinite(height) && width > 0 && height > 0;
}

// A display the island can sit on: one with an area. Housings of no size count as none.
bool usable(const ScreenInfo& screen) {
  return positiveSize(screen.frame.width, screen.frame.height);
}
bool hasHousing(const ScreenInfo& screen) {
  return usable(screen) && screen.cameraHousing &&
         positiveSize(screen.cameraHousing->width, screen.cameraHousing->height);
}

// The top panel's height: how far the free area starts below the top of the display. A gap of
// half the display or more is no top panel but a misreport, and counts as none.
double menuBarHeightOf(const ScreenInfo& screen) {
  double gap = screen.usableFrame().y - screen.frame.y;
  if (!(gap >= 0 && gap < screen.frame.height / 2)) gap = 0;
  return std::max(IslandState::kMinimumMenuBarHeight, gap);
}

}  // namespace

NotchIslandController::NotchIslandController(NotchIslandControllerDependencies deps)
    : dispatcher_(deps.dispatcher),
      preferences_(deps.preferences),
      screens_(deps.screens),
      motion_(deps.motion),
      makePanel_(std::move(deps.makePanel)),
      approvalPending_(deps.approvalPending),
      state_(IslandStateDependencies{deps.dispatcher, deps.preferences, deps.motion,
                                     std::move(deps.approvalPending)}) {
  // The state lives inside the controller, so it may call back into it directly.
  state_.setDismissReport([this] { dismissReport(); });
}

NotchIslandController::~NotchIslandController() = default;

template <typename Fn>
Task NotchIslandController::weakly(Fn fn) {
  return [weak = weak_from_this(), fn = std::move(fn)]() mutable {
    if (auto self = weak.lock()) fn(*self);
  };
}

// Plain delayed actions: not cancellable, they check their conditions when they run.
template <typename Fn>
void NotchIslandController::after(Seconds delay, Fn fn) {
  dispatcher_.mainQueue().asyncAfter(delay, weakly(std::move(fn)));
}

std::optional<ScreenInfo> NotchIslandController::notchedScreen(const std::vector<ScreenInfo>& screens) const {
  auto it = std::find_if(screens.begin(), screens.end(), hasHousing);
  return it == screens.end() ? std::nullopt : std::optional(*it);
}

std::optional<ScreenInfo> NotchIslandController::targetScreen() const {
  const auto screens = screens_.screens();
  if (auto notched = notchedScreen(screens)) return notched;
  auto primary = std::find_if(screens.begin(), screens.end(),
                              [](const ScreenInfo& s) { return s.primary && usable(s); });
  if (primary != screens.end()) return *primary;
  auto first = std::find_if(screens.begin(), screens.end(), usable);
  return first == screens.end() ? std::nullopt : std::optional(*first);
}

bool NotchIslandController::isEnabled() const {
  return preferences_.boolValue(notchedScreen(screens_.screens()) ? prefs::kIslandEnabled
                                                                  : prefs::kIslandOnNonNotch);
}

void NotchIslandController::setEnabled(bool enabled) {
  preferences_.setBool(notchedScreen(screens_.screens()) ? prefs::kIslandEnabled : prefs::kIslandOnNonNotch,
                       enabled);
  refresh();
}

void NotchIslandController::refresh() {
  if (auto screen = targetScreen(); screen && isEnabled()) {
    configure(*screen);
    if (panel_ && !isNapping_) panel_->orderFront(false);
    return;
  }
  if (panel_ && panel_->isShown() && !targetScreen())
    logInfo(log_categories::kApp, "island: no display; hidden");
  hide();
}

void NotchIslandController::hide() {
  state_.reset();
  state_.setWakeReport(std::nullopt);
  if (panel_) panel_->orderOut();
}

void NotchIslandController::configure(const ScreenInfo& screen) {
  if (hasHousing(screen)) {
    state_.setMode(IslandMode::notch);
    state_.setCollapsedSize(*screen.cameraHousing);
  } else {
    state_.setMode(IslandMode::pill);
    state_.setMenuBarHeight(menuBarHeightOf(screen));
    state_.setCollapsedSize(
        {kPillSize.width, std::max(kPillSize.height, state_.menuBarHeight() - kPillInset)});
  }
  if (!panel_ && !panelFailed_) {
    if (makePanel_) panel_ = makePanel_();
    if (!panel_) {
      panelFailed_ = true;
      logError(log_categories::kApp, "island: the panel could not be made");
      return;
    }
  }
  if (panel_) panel_->setFrame(panelFrame(screen));
}

Rect NotchIslandController::panelFrame(const ScreenInfo& screen) const {
  const double height =
      state_.mode() == IslandMode::notch ? kPanelHeight : kPanelHeight + state_.menuBarHeight() + kPillGap;
  return {screen.frame.x + screen.frame.width / 2 - kPanelWidth / 2, screen.frame.y, kPanelWidth, height};
}

void NotchIslandController::setNapping(bool napping, std::optional<NapReport> report) {
  reportDismissWorkItem_.cancel();
  isNapping_ = napping;
  if (napping) return hide();
  // A display may have gone during the nap; then the next refresh decides.
  if (!isEnabled() || !panel_ || !targetScreen()) return;
  panel_->orderFront(!motion_.reduceMotion());
  if (!report) return;
  state_.setWakeReport(report);
  after(kReportOpenDelay, [](NotchIslandController& self) {
    if (self.isNapping_ || !self.state_.wakeReport()) return;
    self.state_.expand();
    self.reportDismissWorkItem_.schedule(self.dispatcher_.mainQueue(), kReportShownFor,
                                         self.weakly([](NotchIslandController& c) { c.dismissReport(); }));
  });
}

void NotchIslandController::dismissReport() {
  reportDismissWorkItem_.cancel();
  if (!state_.wakeReport()) return;
  state_.collapse();
  after(kReportClearDelay, [](NotchIslandController& self) {
    if (!self.state_.isExpanded()) self.state_.setWakeReport(std::nullopt);
  });
}

void NotchIslandController::announce() {
  if (!mayOpen() || state_.wakeReport() || state_.isExpanded()) return;
  state_.expand();
  announceCollapseWorkItem_.schedule(dispatcher_.mainQueue(), kAnnouncementShownFor,
                                     weakly([](NotchIslandController& self) {
                                       auto& s = self.state_;
                                       if (s.isExpanded() && !s.isHovering() && !s.wakeReport()) s.collapse();
                                     }));
}

void NotchIslandController::openForApproval() {
  if (!mayOpen()) return;
  announceCollapseWorkItem_.cancel();
  state_.setWakeReport(std::nullopt);
  state_.expand();
}

void NotchIslandController::scheduleCollapseCheck() {
  after(kApprovalCloseDelay, [](NotchIslandController& self) {
    auto& s = self.state_;
    // A new approval that arrived meanwhile keeps the island open.
    const bool approvalWaits = self.approvalPending_ && self.approvalPending_();
    if (s.isExpanded() && !s.isHovering() && !self.isNapping_ && !approvalWaits) s.collapse();
  });
}

void NotchIslandController::toggle() {
  if (!mayOpen()) return;
  if (!state_.isExpanded()) {
    state_.setWakeReport(std::nullopt);
    state_.expand();
  } else if (state_.wakeReport()) {
    dismissReport();
  } else {
    state_.collapse();
  }
}

void NotchIslandController::peek() {
  refresh();
  if (!mayOpen() || state_.mode() != IslandMode::notch) return;
  state_.expand();
  after(kPeekShownFor, [](NotchIslandController& self) {
    if (!self.isNapping_ && !self.state_.wakeReport()) self.state_.collapse();
  });
}

void NotchIslandController::scheduleScreensRebuild() {
  screensRebuildWorkItem_.schedule(dispatcher_.mainQueue(), kScreensRebuildDelay,
                                   weakly([](NotchIslandController& self) { self.refresh(); }));
}

void NotchIslandController::teardown() {
  screensRebuildWorkItem_.cancel();
  reportDismissWorkItem_.cancel();
  announceCollapseWorkItem_.cancel();
  hide();
}

}  // namespace tovami
