#include "linux/island/island_presenter.h"

#include <malloc.h>

#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <utility>

#include "agents/agent_session.h"
#include "app/preference_keys.h"
#include "approvals/approval_request.h"
#include "peers/usage_tracker.h"
#include "linux/qt/qt_canvas.h"
#include "platform/motion.h"
#include "platform/preferences_store.h"

namespace tovami::linux_backend {
namespace {

bool sameGeometry(const OutlineGeometry& a, const OutlineGeometry& b) {
  return a.mode == b.mode && a.frame == b.frame && a.topRadius == b.topRadius && a.bottomRadius == b.bottomRadius &&
         a.cornerRadius == b.cornerRadius && a.shadowOpacity == b.shadowOpacity && a.hoverScale == b.hoverScale;
}

double bottomOf(const OutlineGeometry& geometry) {
  const Rect frame = geometry.scaledFrame();
  return frame.y + frame.height;
}

QList<QPolygonF> outlinePolygons(const OutlineGeometry& geometry) {
  QPolygonF polygon;
  for (const Point& p : outlinePolygon(geometry)) polygon << QPointF(p.x, p.y);
  return {polygon};
}

}  // namespace

// Forwards the controller's placing and showing to the presenter's window; the window itself
// belongs to the presenter, which ends with the desktop.
class IslandPresenter::Panel final : public IslandPanel {
 public:
  explicit Panel(IslandPresenter& owner) : owner_(owner), window_(owner.window_.get()) {}
  void setFrame(const Rect& frame) override {
    if (window_) window_->setFrame(frame);
  }
  void orderFront(bool fadeIn) override {
    if (!window_) return;
    // Shown again: the island appears as it is now, without moving there first.
    owner_.placed_ = false;
    owner_.sceneChanged();
    owner_.placed_ = true;
    window_->orderFront(fadeIn);
  }
  void orderOut() override {
    if (!window_) return;
    window_->orderOut();
    owner_.panelHidden();
  }
  bool isShown() const override { return window_ && window_->isShown(); }

 private:
  IslandPresenter& owner_;
  QPointer<IslandWindow> window_;
};

IslandPresenter::IslandPresenter(IslandState& state, IslandSources sources, IslandActions actions)
    : state_(state),
      sources_(std::move(sources)),
      controls_(state, sources_.preferences, sources_.dispatcher.mainQueue(), std::move(actions)) {
  stateToken_ = state_.addObserver([this] { sceneChanged(); });
  preferencesToken_ = sources_.preferences.addObserver([this](std::string_view key) {
    if (key == prefs::kIslandShowsCat || key == prefs::kAgentWatchEnabled || key == prefs::kAgentShowSnippets ||
        key == prefs::kAgentQuietSound || key == prefs::kUsageTracking || key == prefs::kNotchApprovals ||
        key == prefs::kCodexApprovals)
      sceneChanged();
  });
  observeServices();
}

IslandPresenter::~IslandPresenter() {
  state_.removeObserver(stateToken_);
  sources_.preferences.removeObserver(preferencesToken_);
  if (observedAgents_) observedAgents_->removeObserver(agentsToken_);
  if (observedUsage_) observedUsage_->removeObserver(usageToken_);
  if (observedApprovals_) observedApprovals_->removeObserver(approvalsToken_);
}

void IslandPresenter::observeServices() {
  const auto follow = [this](auto* now, auto*& observed, int& token) {
    if (!now || now == observed) return;
    if (observed) observed->removeObserver(token);
    observed = now;
    token = now->addObserver([this] { sceneChanged(); });
  };
  if (sources_.agents) follow(sources_.agents(), observedAgents_, agentsToken_);
  if (sources_.usage) follow(sources_.usage(), observedUsage_, usageToken_);
  if (sources_.approvals) follow(sources_.approvals(), observedApprovals_, approvalsToken_);
}

std::unique_ptr<IslandPanel> IslandPresenter::makePanel() {
  if (!window_) {
    window_ = std::make_unique<IslandWindow>();
    view_ = std::make_unique<NotchIslandView>(sources_.dispatcher.mainQueue(), sources_.random, [this] {
      if (window_ && window_->isShown()) window_->update();
    });
    window_->setPaintCallback([this](QPainter& painter) { paint(painter); });
    window_->setOnFrame([this] { advance(); });
    window_->setOnHoverChanged([this](bool inside) { hoverChanged(inside); });
    window_->setOnPointerMoved([this](QPointF at) { pointerMoved(at); });
    window_->setOnClicked([this](QPointF at) { clicked(at); });
    window_->setOnPressChanged([this](std::optional<QPointF> at) { pressChanged(at); });
  }
  return std::make_unique<Panel>(*this);
}

Seconds IslandPresenter::uptime() const { return sources_.dispatcher.clock().uptime(); }

IslandScene IslandPresenter::buildScene() const {
  IslandScene scene;
  scene.phase = state_.phase();
  scene.mode = state_.mode();
  scene.collapsedSize = state_.collapsedSize();
  scene.menuBarHeight = state_.menuBarHeight();
  scene.hovering = state_.isHovering();
  scene.napTimerDeadline = state_.napTimerDeadline();
  scene.wakeReport = state_.wakeReport();
  if (observedAgents_) {
    scene.sessions = observedAgents_->sessions();
    scene.napWhenIdleArmed = observedAgents_->napWhenIdleArmed();
  }
  if (observedUsage_) scene.usage = observedUsage_->snapshot();
  if (observedApprovals_) {
    scene.approval = observedApprovals_->pending();
    scene.approvalCount = observedApprovals_->count();
    scene.approvalNotice = observedApprovals_->notice();
  }
  scene.approvalArmed = cardGuard_.armed(uptime());
  const PreferenceStore& preferences = sources_.preferences;
  scene.showsCat = boolOr(preferences, prefs::kIslandShowsCat, true);
  scene.agentWatch = boolOr(preferences, prefs::kAgentWatchEnabled, true);
  scene.showSnippets = boolOr(preferences, prefs::kAgentShowSnippets, true);
  scene.agentQuietSound = boolOr(preferences, prefs::kAgentQuietSound, true);
  scene.reduceMotion = sources_.motion.reduceMotion();
  scene.hoveredSession = hoveredSession_;
  scene.pressed = pressed_;
  scene.now = sources_.dispatcher.clock().now();
  scene.animationTime = scene.now;
  if (observedUsage_) scene.usageCaption = usageCaption(observedUsage_->snapshot(), observedUsage_->backoff(), scene.now);
  return scene;
}

void IslandPresenter::sceneChanged() {
  if (!window_) return;
  observeServices();
  const ApprovalState* approvals = observedApprovals_;
  cardGuard_.shown(approvals && approvals->pending() ? std::optional(approvals->pending()->id) : std::nullopt,
                   uptime());
  if (const auto wait = cardGuard_.armsIn(uptime()))
    armWork_.schedule(sources_.dispatcher.mainQueue(), *wait + 0.01, [this] { sceneChanged(); });
  IslandScene scene = buildScene();
  // A row that went away can no longer be under the pointer.
  if (hoveredSession_ && std::none_of(scene.sessions.begin(), scene.sessions.end(),
                                      [this](const AgentSession& s) { return s.pid == *hoveredSession_; })) {
    hoveredSession_.reset();
    scene.hoveredSession.reset();
  }
  retarget(scene);
  scene_ = std::move(scene);
  window_->setOutline(outlinePolygons(shown_));
  if (window_->isShown()) window_->update();
}

// Starts moving the outline towards the new scene's shape, along the curve for that kind of change.
void IslandPresenter::retarget(const IslandScene& scene) {
  const OutlineGeometry target = outlineGeometry(scene, scene.phase);
  const double fadeTarget = scene.phase == IslandPhase::expanded ? 1.0 : 0.0;
  const bool phaseChanged = scene.phase != scene_.phase;
  const bool hoverChanged = scene.hovering != scene_.hovering;
  if (!placed_) {
    from_ = to_ = shown_ = target;
    fadeFrom_ = fadeTo_ = fade_ = fadeTarget;
    transition_ = Transition{};
    window_->setIslandBottom(bottomOf(target));
    return;
  }
  if (!phaseChanged && !hoverChanged && sameGeometry(target, to_)) return;
  from_ = shown_;
  to_ = target;
  fadeFrom_ = fade_;
  fadeTo_ = fadeTarget;
  const IslandChange change = phaseChanged ? IslandChange::phase
                              : hoverChanged ? IslandChange::hover
                                             : IslandChange::content;
  transition_ = transitionFor(change, state_, scene.reduceMotion, uptime());
  releaseWhenSettled_ = phaseChanged;
  // Room for the way there (a spring passes its end by less than 1 %, well within the margin).
  window_->setIslandBottom(std::max(bottomOf(from_), bottomOf(to_)));
  advance();
  window_->setAnimating(!transition_.finished(uptime()));
}

void IslandPresenter::advance() {
  const Seconds now = uptime();
  const double progress = transition_.progress(now);
  shown_ = mix(from_, to_, progress);
  fade_ = fadeFrom_ + (fadeTo_ - fadeFrom_) * std::clamp(progress, 0.0, 1.0);
  if (transition_.finished(now)) {
    shown_ = to_;
    fade_ = fadeTo_;
    if (window_) {
      window_->setAnimating(false);
      window_->setIslandBottom(bottomOf(to_));
    }
    if (std::exchange(releaseWhenSettled_, false)) releaseFreedMemory();
  }
  if (window_) window_->setOutline(outlinePolygons(shown_));
}

void IslandPresenter::paint(QPainter& painter) {
  if (!view_) return;
  scene_.now = sources_.dispatcher.clock().now();
  scene_.animationTime = scene_.now;
  QtCanvas canvas(painter);
  view_->draw(canvas, scene_, shown_, fade_);
  if (const auto next = view_->nextRedrawIn(scene_); next && !window_->isAnimating()) window_->scheduleRedraw(*next);
}

void IslandPresenter::hoverChanged(bool inside) {
  if (!inside && hoveredSession_) {
    hoveredSession_.reset();
    sceneChanged();
  }
  state_.hoverChanged(inside);
}

void IslandPresenter::pointerMoved(QPointF at) {
  if (!view_) return;
  const IslandHit hit = view_->hitTest(scene_, shown_, Point{at.x(), at.y()});
  const std::optional<int32_t> row =
      hit.target == IslandTarget::agentRow ? hit.pid : std::optional<int32_t>{};
  if (row == hoveredSession_) return;
  hoveredSession_ = row;
  sceneChanged();
}

void IslandPresenter::pressChanged(std::optional<QPointF> at) {
  const IslandHit under = at && view_ ? view_->hitTest(scene_, shown_, Point{at->x(), at->y()}) : IslandHit{};
  std::optional<IslandHit> hit;
  if (under.target != IslandTarget::none && under.target != IslandTarget::outline) hit = under;
  if (hit == pressed_) return;
  pressed_ = hit;
  sceneChanged();
}

void IslandPresenter::clicked(QPointF at) {
  if (!view_) return;
  controls_.perform(view_->hitTest(scene_, shown_, Point{at.x(), at.y()}), cardGuard_, uptime());
}

// Each frame of an opening or closing frees its shadow and buffers, but glibc keeps freed blocks
// between those still in use until the program ends: hand them back once the island rests.
void IslandPresenter::releaseFreedMemory() { ::malloc_trim(0); }

void IslandPresenter::panelHidden() {
  releaseWhenSettled_ = false;
  releaseFreedMemory();
  if (view_) view_->disappear();
  if (window_) window_->setAnimating(false);
  hoveredSession_.reset();
  pressed_.reset();
  placed_ = false;
}

}  // namespace tovami::linux_backend
