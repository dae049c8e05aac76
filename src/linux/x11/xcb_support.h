// Small helpers around Qt's own X connection.
#pragma once

#include <xcb/xcb.h>

#include <memory>

#include "linux/x11/xcb_facts.h"

namespace tovami::linux_backend {

// Qt's X connection, or null when the program does not run on X11 (Wayland, offscreen).
xcb_connection_t* qtXcbConnection();
// The root window of the default screen, or 0 without X.
xcb_window_t qtXcbRoot();
// Whether a compositing manager runs on the default screen (false without X).
bool qtCompositorRuns();

// Keyboard layout facts needed to grab combinations.
struct XcbKeyboardInfo {
  uint16_t numLockMask = 0;
  uint16_t altMask = XCB_MOD_MASK_1;
  // The first key code that produces `keysym` (0 when none does).
  xcb_keycode_t keycodeFor(xcb_keysym_t keysym) const;

  xcb_keycode_t minKeycode = 0;
  int keysymsPerKeycode = 0;
  std::unique_ptr<xcb_keysym_t[]> keysyms;
  int keycodeCount = 0;
};
XcbKeyboardInfo readKeyboardInfo(xcb_connection_t* connection);

}  // namespace tovami::linux_backend
