// Small helpers around Qt's own X connection.
#pragma once

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace tovami::linux_backend {

// Qt's X connection, or null when the program does not run on X11 (Wayland, offscreen).
xcb_connection_t* qtXcbConnection();
// The root window of the default screen, or 0 without X.
xcb_window_t qtXcbRoot();

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, FreeDeleter>;

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
