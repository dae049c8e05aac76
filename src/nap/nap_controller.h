// The nap: every display covered by a dark window, the pointer hidden, keyboard and mouse
// swallowed and the machine kept awake, until a wake key or a click (and, when the user chose
// so, their password) ends it with a report of its length and the pokes it ignored.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "app/app_services.h"
#include "app/sound_cues.h"
#include "nap/keep_awake.h"
#include "nap/nap_island_link.h"
#include "nap/nap_overlay_hints.h"
#include "platform/authentication.h"
#include "platform/delayed_work.h"
#include "platform/input.h"
#include "platform/nap_windows.h"
#include "platform/shared_instance.h"

namespace tovami {

class PreferenceStore;

struct NapControllerDependencies {
  Dispatcher& dispatcher;
  PreferenceStore& preferences;
  NapWindowSystem& windows;
  InputMonitoring& input;
  Authenticator& authenticator;
  PowerManagement& power;
  std::shared_ptr<NapIslandLink> island;          // null: no island (changes are logged)
  std::shared_ptr<NapOverlayHints> overlayState;  // null: no scene
  std::function<void(SoundCue)> playCue;          // may be empty
};

class NapController final : public NapControl,
                            public SharedInstance<NapController>,
                            public std::enable_shared_from_this<NapController> {
 public:
  static constexpr const char* kKeepAwakeReason = "Tovami nap in progress";
  static constexpr const char* kAuthReason = "end the nap and uncover your screen";
  static constexpr Seconds kNoScreensRetryDelay = 2.0;
  static constexpr Seconds kScreenRebuildDelay = 0.3;
  static constexpr Seconds kAuthWatchdogDelay = 90.0;
  static constexpr Seconds kPurrAfter = 60.0;
  // Said on the first nap of a session whose nap cannot hold the keyboard.
  static constexpr const char* kPartialCaptureNotice =
      "This nap only covers the screens: Wayland windows can still get the keyboard, so it locks "
      "nothing and wakes without a password.";

  // Create with std::make_shared: delayed work and monitors hold the controller weakly.
  explicit NapController(NapControllerDependencies deps);
  ~NapController() override;

  void startNap() override;
  void scheduleDelayedNap(Seconds delay);
  void cancelDelayedNap();
  void endNap() override;
  void requestWake();
  void authReplied(AuthOutcome outcome) { authReplied(outcome, nullptr); }
  void scheduleScreenRebuild() override;
  void rebuildIfScreensChanged();
  bool isNapping() const override { return isNapping_; }

  bool isAuthenticating() const { return isAuthenticating_; }
  bool cursorHidden() const { return cursorHidden_; }
  std::int64_t pokeCount() const { return pokeCount_; }
  bool hasDelayedNap() const { return delayedNapWorkItem_.isScheduled(); }
  size_t windowCount() const { return windows_.size(); }
  NapOverlayHints& overlayState() { return *overlayState_; }
  std::shared_ptr<NapOverlayHints> sharedOverlayState() const { return overlayState_; }
  // The island arrives later than the controller in some builds.
  void setIslandLink(std::shared_ptr<NapIslandLink> island);

 private:
  void authReplied(AuthOutcome outcome, const AuthenticationContext* from);
  void buildWindows();
  void closeWindows();
  void bringToFront();
  void hidePointer();
  void showPointer();
  void installMonitors();
  void removeMonitors();
  bool handleKey(const InputEvent& event);

  Dispatcher& dispatcher_;
  PreferenceStore& preferences_;
  NapWindowSystem& windowSystem_;
  InputMonitoring& input_;
  Authenticator& authenticator_;
  std::shared_ptr<NapIslandLink> island_;
  std::function<void(SoundCue)> playCue_;

  bool isNapping_ = false;
  std::shared_ptr<NapOverlayHints> overlayState_;
  std::vector<std::unique_ptr<NapWindow>> windows_;
  std::vector<InputMonitoring::Token> eventMonitors_;
  std::optional<InputMonitoring::Token> resignActiveObserver_;
  DelayedWork screenRebuildWorkItem_;
  bool isAuthenticating_ = false;
  std::shared_ptr<AuthenticationContext> activeAuthContext_;
  DelayedWork authWatchdog_;
  bool cursorHidden_ = false;
  // Monotonic, so that a wall-clock change during a nap cannot distort its length.
  std::optional<Seconds> napStartDate_;
  std::int64_t pokeCount_ = 0;
  bool partialCaptureSaid_ = false;
  DelayedWork delayedNapWorkItem_;
  KeepAwake keepAwake_;
};

}  // namespace tovami
