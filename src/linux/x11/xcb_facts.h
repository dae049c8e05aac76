// What the X server knows, asked over any xcb connection: atoms, screens, whether a compositor runs.
// No toolkit here, so the entry program (which links none) can use it too.
#pragma once

#include <xcb/xcb.h>

#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <string_view>
#include <vector>

namespace tovami::linux_backend {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, FreeDeleter>;

// The atom called `name`; XCB_ATOM_NONE on error, or when `onlyIfExists` and nobody made it yet.
xcb_atom_t internAtom(xcb_connection_t* c, std::string_view name, bool onlyIfExists = false);
// Several atoms in one round trip, in the order asked (XCB_ATOM_NONE for any that failed).
std::vector<xcb_atom_t> internAtoms(xcb_connection_t* c, std::initializer_list<const char*> names);

// The screen $DISPLAY names (":1.0" and ":1" both name screen 0), as xcb_connect() picks it.
int defaultXcbScreenNumber();
// Screen `number` of the connection, or null when it has no such screen.
xcb_screen_t* xcbScreen(xcb_connection_t* c, int number);
// The number of the screen whose root holds `window` (the default screen when the server cannot say).
int xcbScreenNumberOf(xcb_connection_t* c, xcb_window_t window);

// Whether a compositing manager runs on screen `number`: it owns the selection _NET_WM_CM_S<number>.
bool compositorRunsOn(xcb_connection_t* c, int number);
// Whether somebody owns the selection `selection` (a compositor owns _NET_WM_CM_S<screen>, an X11
// system tray _NET_SYSTEM_TRAY_S<screen>).
bool selectionOwned(xcb_connection_t* c, xcb_atom_t selection);

}  // namespace tovami::linux_backend
