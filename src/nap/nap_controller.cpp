#include "nap/nap_controller.h"

#include "app/preference_keys.h"
#include "platform/log.h"
#include "platform/preferences_store.h"

namespace tovami {

NapController::NapController(NapControllerDependencies deps)
    : dispatcher_(deps.dispatcher),
      preferences_(deps.preferences),
      windowSystem_(deps.windows),
      input_(deps.input),
      authenticator_(deps.authenticator),
      island_(std::make_shared<LoggedNapIslandLink>(std::move(deps.island))),
      playCue_(std::move(deps.playCue)),
      overlayState_(deps.overlayState ? std::move(deps.overlayState) : std::make_shared<NoOverlayHints>()),
      keepAwake_(kKeepAwakeReason, deps.power, deps.dispatcher.mainQueue()) {}

NapController::~NapController() = default;

void NapController::setIslandLink(std::shared_ptr<NapIslandLink> island) {
  if (island) island_ = std::make_shared<LoggedNapIslandLink>(std::move(island));
}

void NapController::startNap() {
  cancelDelayedNap();
  if (isNapping_) return;
  isNapping_ = true;
  napStartDate_ = dispatcher_.clock().uptime();
  pokeCount_ = 0;
  overlayState_->reset();
  if (!input_.canHoldKeyboard() && !partialCaptureSaid_) {
    partialCaptureSaid_ = true;
    logError(log_categories::kNap, std::string("nap: ") + kPartialCaptureNotice);
    overlayState_->showNotice(kPartialCaptureNotice);
  }
  // The displays go dark first; the rest of the start happens behind the blackout.
  buildWindows();
  if (windows_.empty()) {
    logError(log_categories::kPower, "No screens available for nap; retrying in 2s");
    isNapping_ = false;
    napStartDate_.reset();
    scheduleDelayedNap(kNoScreensRetryDelay);
    return;
  }
  island_->setNapping(true, std::nullopt);
  keepAwake_.begin();
  installMonitors();
  hidePointer();
}

void NapController::buildWindows() {
  // Every window is made before any is shown, so that the platform can put all displays' windows
  // on screen in one go; the last one made becomes the key window.
  for (const auto& screen : windowSystem_.screens()) {
    auto window = windowSystem_.makeBlackoutWindow(screen);
    if (!window) continue;
    window->setLevel(NapWindowLevel::screenSaver);
    windows_.push_back(std::move(window));
  }
  for (auto& window : windows_) window->orderFrontRegardless();
  bringToFront();
}

void NapController::closeWindows() {
  auto closing = std::move(windows_);
  windows_.clear();
  for (auto& window : closing) window->close();
}

void NapController::bringToFront() {
  if (windows_.empty()) return;
  windowSystem_.activateIgnoringOtherApps();
  windows_.back()->makeKeyAndOrderFront();
}

void NapController::hidePointer() {
  if (cursorHidden_) return;
  cursorHidden_ = true;
  input_.hideCursor();
}

void NapController::showPointer() {
  if (!cursorHidden_) return;
  cursorHidden_ = false;
  input_.unhideCursor();
}

bool NapController::handleKey(const InputEvent& event) {
  // A key that may also have reached another program is not the nap's to count or obey.
  if (!input_.holdsKeyboard()) return true;
  switch (event.key) {
    case InputKey::returnKey:
    case InputKey::space:
    case InputKey::escape:
    case InputKey::keypadEnter:
      requestWake();
      return true;
    case InputKey::other:
      break;
  }
  if (!event.isAutoRepeat) pokeCount_ += 1;
  overlayState_->showHint();
  return true;
}

void NapController::installMonitors() {
  std::weak_ptr<NapController> weak = weak_from_this();
  eventMonitors_.push_back(input_.addLocalMonitor(input_mask::kKeyDown, [weak](const InputEvent& event) {
    auto self = weak.lock();
    if (!self || !self->isNapping_) return false;
    return self->handleKey(event);
  }));
  eventMonitors_.push_back(input_.addLocalMonitor(input_mask::kMouseDown, [weak](const InputEvent&) {
    auto self = weak.lock();
    if (!self || !self->isNapping_) return false;
    self->requestWake();
    return true;
  }));
  eventMonitors_.push_back(input_.addLocalMonitor(input_mask::kMouseMoved, [weak](const InputEvent&) {
    auto self = weak.lock();
    if (self && self->isNapping_) self->overlayState_->showHint();
    return false;
  }));
  if (!resignActiveObserver_) {
    resignActiveObserver_ = input_.addResignActiveObserver([weak] {
      auto self = weak.lock();
      if (!self || !self->isNapping_ || self->isAuthenticating_) return;
      self->bringToFront();
      self->hidePointer();
    });
  }
}

void NapController::removeMonitors() {
  if (resignActiveObserver_) {
    input_.removeResignActiveObserver(*resignActiveObserver_);
    resignActiveObserver_.reset();
  }
  for (auto token : eventMonitors_) input_.removeMonitor(token);
  eventMonitors_.clear();
}

void NapController::requestWake() {
  if (!isNapping_) return;
  if (isAuthenticating_) {
    // A second gesture cancels a prompt that is stuck; its reply arrives through authReplied.
    if (activeAuthContext_) activeAuthContext_->invalidate();
    return;
  }
  if (!wakeRequiresAuthentication(preferences_)) {
    endNap();
    return;
  }
  if (!input_.canHoldKeyboard()) {
    // A password guards nothing while other windows can be used, and a window that takes the
    // focus would receive it as it is typed.
    logInfo(log_categories::kNap, "nap: waking without the password: this session cannot hold the keyboard");
    endNap();
    return;
  }
  if (!input_.holdsKeyboard()) {
    // The password would be typed into whichever program holds the keyboard.
    logError(log_categories::kNap, "nap: no password prompt while another program holds the keyboard");
    return;
  }
  auto context = authenticator_.makeContext();
  if (!context || !context->canEvaluateOwnerAuthentication()) {
    logError(log_categories::kPower, "Authentication unavailable; ending the nap without it");
    endNap();  // never leave a nap without a way out
    return;
  }
  isAuthenticating_ = true;
  activeAuthContext_ = context;
  showPointer();
  for (auto& window : windows_) window->setLevel(NapWindowLevel::status);

  std::weak_ptr<NapController> weak = weak_from_this();
  authWatchdog_.schedule(dispatcher_.mainQueue(), kAuthWatchdogDelay, [weak] {
    auto self = weak.lock();
    if (!self || !self->isAuthenticating_) return;
    logError(log_categories::kPower, "Auth watchdog fired; invalidating stuck context");
    if (self->activeAuthContext_) self->activeAuthContext_->invalidate();
  });
  TaskQueue& main = dispatcher_.mainQueue();
  const AuthenticationContext* identity = context.get();
  context->evaluateOwnerAuthentication(kAuthReason, [weak, &main, identity](AuthOutcome outcome) {
    main.async([weak, identity, outcome] {
      if (auto self = weak.lock()) self->authReplied(outcome, identity);
    });
  });
}

void NapController::authReplied(AuthOutcome outcome, const AuthenticationContext* from) {
  // A late reply from a prompt that an ended nap already dropped must not close a newer one.
  if (from && activeAuthContext_ && activeAuthContext_.get() != from) return;
  isAuthenticating_ = false;
  activeAuthContext_.reset();
  authWatchdog_.cancel();
  if (!isNapping_) return;
  if (outcome == AuthOutcome::unavailable) {
    // The check itself cannot be made: asking again would leave the nap without a way out.
    logError(log_categories::kPower, "Authentication cannot be evaluated; ending the nap without it");
    endNap();
    return;
  }
  for (auto& window : windows_) window->setLevel(NapWindowLevel::screenSaver);
  scheduleScreenRebuild();
  if (outcome == AuthOutcome::succeeded) {
    endNap();
    return;
  }
  pokeCount_ += 1;
  hidePointer();
  bringToFront();
}

void NapController::endNap() {
  cancelDelayedNap();
  if (!isNapping_) return;
  isNapping_ = false;
  isAuthenticating_ = false;
  if (auto context = std::move(activeAuthContext_)) context->invalidate();
  activeAuthContext_.reset();
  authWatchdog_.cancel();
  screenRebuildWorkItem_.cancel();
  removeMonitors();
  closeWindows();
  keepAwake_.end();
  showPointer();
  std::optional<NapReport> report;
  if (napStartDate_) report = NapReport{dispatcher_.clock().uptime() - *napStartDate_, pokeCount_};
  napStartDate_.reset();
  island_->setNapping(false, report);
  if (report && report->duration > kPurrAfter && playCue_) playCue_(SoundCue::napEnded);
}

void NapController::scheduleDelayedNap(Seconds delay) {
  if (isNapping_) return;
  cancelDelayedNap();
  std::weak_ptr<NapController> weak = weak_from_this();
  delayedNapWorkItem_.schedule(dispatcher_.mainQueue(), delay, [weak] {
    if (auto self = weak.lock()) self->startNap();
  });
  island_->setNapTimerDeadline(dispatcher_.clock().now() + delay);
}

void NapController::cancelDelayedNap() {
  delayedNapWorkItem_.cancel();
  island_->setNapTimerDeadline(std::nullopt);
}

void NapController::scheduleScreenRebuild() {
  if (!isNapping_) return;
  std::weak_ptr<NapController> weak = weak_from_this();
  screenRebuildWorkItem_.schedule(dispatcher_.mainQueue(), kScreenRebuildDelay, [weak] {
    if (auto self = weak.lock()) self->rebuildIfScreensChanged();
  });
}

void NapController::rebuildIfScreensChanged() {
  if (!isNapping_ || isAuthenticating_) return;
  const auto screens = windowSystem_.screens();
  bool same = screens.size() == windows_.size();
  for (size_t i = 0; same && i < screens.size(); ++i) same = screens[i].frame == windows_[i]->frame();
  if (same) return;
  logInfo(log_categories::kNap,
          "nap: displays changed; covering " + std::to_string(screens.size()) + " displays");
  closeWindows();
  buildWindows();
}

}  // namespace tovami
