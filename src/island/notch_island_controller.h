// The island's owner: it picks the display that hosts the island and how it sits there (in the
// camera housing, or as a pill below the top panel), places and shows the one panel, hides it
// around naps, and turns the program's events into opening and closing with their fixed delays.
// Main thread only; every delayed action holds the controller weakly.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "agents/agent_watcher.h"
#include "app/app_services.h"
#include "approvals/approval_server.h"
#include "island/island_state.h"
#include "nap/nap_island_link.h"
#include "platform/delayed_work.h"
#include "platform/island_panel.h"
#include "platform/screens.h"
#include "platform/shared_instance.h"

namespace tovami {

class MotionSettings;
class PreferenceStore;

struct NotchIslandControllerDependencies {
  Dispatcher& dispatcher;
  PreferenceStore& preferences;
  const ScreenProvider& screens;
  const MotionSettings& motion;
  IslandPanelFactory makePanel;           // called once, on the first placement
  std::function<bool()> approvalPending;  // empty: never
};

class NotchIslandController final : public IslandControl,
                                    public NapIslandLink,
                                    public AgentAnnouncementSink,
                                    public ApprovalIslandLink,
                                    public SharedInstance<NotchIslandController>,
                                    public std::enable_shared_from_this<NotchIslandController> {
 public:
  static constexpr double kPanelWidth = 700;
  static constexpr double kPanelHeight = 520;
  static constexpr double kPillGap = 4;      // between the top panel and the pill
  static constexpr Size kPillSize{180, 16};  // 16 is the least height; it follows the top panel
  static constexpr double kPillInset = 8;    // the pill is this much lower than the top panel
  static constexpr Seconds kReportOpenDelay = 0.25;
  static constexpr Seconds kReportShownFor = 6.0;
  static constexpr Seconds kReportClearDelay = 0.6;
  static constexpr Seconds kAnnouncementShownFor = 5.0;
  static constexpr Seconds kApprovalCloseDelay = 0.5;
  static constexpr Seconds kPeekShownFor = 1.6;
  static constexpr Seconds kScreensRebuildDelay = 0.3;

  // Create with std::make_shared: delayed work holds the controller weakly.
  explicit NotchIslandController(NotchIslandControllerDependencies deps);
  ~NotchIslandController() override;

  IslandState& state() { return state_; }
  const IslandState& state() const { return state_; }
  IslandPanel* panel() const { return panel_.get(); }
  bool isNapping() const { return isNapping_; }

  // On when the switch for the kind of display at hand is on: "islandEnabled" while some display
  // has a camera housing, "islandOnNonNotch" otherwise.
  bool isEnabled() const;
  void setEnabled(bool enabled);

  // Re-reads the displays: places and shows the island, or hides it when it is off or there is
  // no display.
  void refresh() override;
  void toggle() override;
  // Opens the island briefly to show where it is (camera housing only).
  void peek() override;
  void teardown() override;
  void screensChanged() override { scheduleScreensRebuild(); }
  // A burst of display changes gives one refresh, 0.3 s after the last.
  void scheduleScreensRebuild();

  void setNapping(bool napping, std::optional<NapReport> report) override;
  void setNapTimerDeadline(std::optional<Seconds> deadline) override { state_.setNapTimerDeadline(deadline); }
  // An agent finished a long stretch of work: open for 5 s.
  void announce() override;
  // An approval waits: open, and stay open.
  void openForApproval() override;
  // The approval is gone: close 0.5 s later unless someone is looking.
  void scheduleCollapseCheck() override;
  // Closes the wake report; the report stays in the state until the island has closed.
  void dismissReport();

  // The panel's frame on `screen` for the current mode (global points, top-left origin).
  Rect panelFrame(const ScreenInfo& screen) const;

 private:
  std::optional<ScreenInfo> notchedScreen(const std::vector<ScreenInfo>& screens) const;
  std::optional<ScreenInfo> targetScreen() const;
  // Enabled, placed, not napping: the island may open.
  bool mayOpen() const { return isEnabled() && panel_ && !isNapping_; }
  void configure(const ScreenInfo& screen);
  void hide();
  // `fn(*this)` as a task that does nothing once the controller is gone.
  template <typename Fn>
  Task weakly(Fn fn);
  template <typename Fn>
  void after(Seconds delay, Fn fn);

  Dispatcher& dispatcher_;
  PreferenceStore& preferences_;
  const ScreenProvider& screens_;
  const MotionSettings& motion_;
  IslandPanelFactory makePanel_;
  std::function<bool()> approvalPending_;
  bool panelFailed_ = false;  // the factory made nothing: not asked again

  IslandState state_;
  std::unique_ptr<IslandPanel> panel_;
  bool isNapping_ = false;
  DelayedWork reportDismissWorkItem_;
  DelayedWork screensRebuildWorkItem_;
  DelayedWork announceCollapseWorkItem_;
};

}  // namespace tovami
