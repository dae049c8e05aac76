// Puts the island on screen: owns its window and its drawing, follows the island, agent, usage
// and approval states and the preferences, moves the outline along the curve of each change, and
// turns the pointer into hover, taps and the island's commands.
#pragma once

#include <QPointF>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>

#include "approvals/approval_request.h"
#include "island/approval_card_guard.h"
#include "island/island_actions.h"
#include "island/island_layout.h"
#include "island/island_scene.h"
#include "island/island_state.h"
#include "island/notch_island_view.h"
#include "linux/island/island_window.h"
#include "platform/delayed_work.h"
#include "platform/island_panel.h"

namespace tovami {
class AgentWatchState;
class ApprovalState;
class MotionSettings;
class PreferenceStore;
class UsageState;
}  // namespace tovami

namespace tovami::linux_backend {

// Where the picture's inputs come from. The states are looked up at each use: a service that does
// not exist (switched off in this build) gives null.
struct IslandSources {
  Dispatcher& dispatcher;
  PreferenceStore& preferences;
  const MotionSettings& motion;
  std::shared_ptr<RandomSource> random;
  std::function<AgentWatchState*()> agents;
  std::function<UsageState*()> usage;
  std::function<ApprovalState*()> approvals;
};

class IslandPresenter {
 public:
  IslandPresenter(IslandState& state, IslandSources sources, IslandActions actions);
  ~IslandPresenter();
  IslandPresenter(const IslandPresenter&) = delete;
  IslandPresenter& operator=(const IslandPresenter&) = delete;

  // The panel the island controller places and shows; the window behind it stays this object's.
  std::unique_ptr<IslandPanel> makePanel();
  IslandWindow* window() const { return window_.get(); }
  const IslandScene& scene() const { return scene_; }

  // The state, a service or a preference changed: rebuild the picture and move towards it.
  void sceneChanged();
  // Follow the states of services started after this presenter.
  void observeServices();

 private:
  class Panel;
  IslandScene buildScene() const;
  void retarget(const IslandScene& scene);
  void advance();
  void paint(QPainter& painter);
  void pointerMoved(QPointF at);
  void hoverChanged(bool inside);
  void clicked(QPointF at);
  void pressChanged(std::optional<QPointF> at);
  void panelHidden();
  static void releaseFreedMemory();
  Seconds uptime() const;

  IslandState& state_;
  IslandSources sources_;
  IslandControls controls_;
  std::unique_ptr<IslandWindow> window_;
  std::unique_ptr<NotchIslandView> view_;
  IslandScene scene_;
  std::optional<int32_t> hoveredSession_;
  std::optional<IslandHit> pressed_;  // the control held down, drawn pressed
  ApprovalCardGuard cardGuard_;
  DelayedWork armWork_;  // redraws the card once its buttons take clicks
  // The outline moves from `from_` to `to_` along `transition_`; `shown_` is where it is now.
  OutlineGeometry from_, to_, shown_;
  Transition transition_;
  double fadeFrom_ = 0, fadeTo_ = 0, fade_ = 0;  // 0 collapsed content, 1 expanded content
  bool placed_ = false;
  bool releaseWhenSettled_ = false;  // opened or closed: give the frames' freed memory back once it rests
  int stateToken_ = 0, preferencesToken_ = 0;
  int agentsToken_ = 0, usageToken_ = 0, approvalsToken_ = 0;
  AgentWatchState* observedAgents_ = nullptr;
  UsageState* observedUsage_ = nullptr;
  ApprovalState* observedApprovals_ = nullptr;
};

}  // namespace tovami::linux_backend
