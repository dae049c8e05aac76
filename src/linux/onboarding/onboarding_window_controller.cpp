#include "linux/onboarding/onboarding_window_controller.h"

#include <xcb/xcb.h>

#include "linux/jump/ewmh_window_activation.h"
#include "linux/onboarding/tour_window.h"
#include "linux/x11/xcb_support.h"

namespace tovami::linux_backend {
namespace {

// The window that has the keyboard now, as the window manager reports it (0 when unknown).
uint32_t activeWindow() {
  xcb_connection_t* connection = qtXcbConnection();
  if (!connection) return 0;
  const xcb_atom_t active = internAtom(connection, "_NET_ACTIVE_WINDOW");
  if (active == XCB_ATOM_NONE) return 0;
  XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
      connection, xcb_get_property(connection, 0, qtXcbRoot(), active, XCB_ATOM_WINDOW, 0, 1), nullptr));
  if (!reply || xcb_get_property_value_length(reply.get()) < 4) return 0;
  return *static_cast<uint32_t*>(xcb_get_property_value(reply.get()));
}

}  // namespace

OnboardingWindowController::OnboardingWindowController(OnboardingDependencies dependencies) {
  OnboardingHost host;
  host.hideWindow = [this] {
    if (window_) window_->hide();
  };
  host.giveBackFocus = [this] { giveBackFocus(); };
  view_ = std::make_shared<OnboardingView>(std::move(dependencies), std::move(host));
  window_ = new TourWindowWidget(view_, qtCompositorRuns());
}

OnboardingWindowController::~OnboardingWindowController() {
  // The window may be delivering an event right now: let it go once that is done.
  if (window_) {
    window_->hide();
    window_->deleteLater();
  }
}

void OnboardingWindowController::show() {
  if (!window_) return;
  const uint32_t active = activeWindow();
  if (active != window_->winId()) previousWindow_ = active;
  window_->placeOnPrimaryScreen();
  window_->show();
  window_->raise();
  window_->activateWindow();
  view_->open();
}

void OnboardingWindowController::orderOut() {
  if (window_) window_->hide();
}

void OnboardingWindowController::giveBackFocus() {
  if (!previousWindow_) return;
  EwmhWindowActivation windows;
  windows.activate(previousWindow_);
}

}  // namespace tovami::linux_backend
