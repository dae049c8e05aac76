// Which windowing the program runs on. Its windows speak X11: through XWayland where a Wayland
// session offers it, and with no X display at all it keeps what needs none (tray, agent watch,
// keep-awake) instead of ending. Hot keys in a Wayland session go through the desktop's portal.
#pragma once

#include <functional>
#include <string>

namespace tovami {

struct SessionEnvironment {
  std::string display;         // $DISPLAY
  std::string waylandDisplay;  // $WAYLAND_DISPLAY
  std::string sessionType;     // $XDG_SESSION_TYPE
  std::string qtPlatform;      // $QT_QPA_PLATFORM
};

struct DisplaySession {
  // The toolkit platform to use; empty leaves the user's own choice in force.
  std::string qtPlatform;
  bool wayland = false;
  bool x11 = false;
};

DisplaySession chooseDisplaySession(const SessionEnvironment& environment);

// Where the global hot keys come from: X11 grabs in an X11 session; in a Wayland session the
// desktop's shortcut portal where it has one (X11 grabs there reach only X11 windows' focus).
// `portalOffered` is asked only in a Wayland session with X11, where it matters.
enum class HotKeyRoute { x11Grabs, portal };
HotKeyRoute chooseHotKeyRoute(bool wayland, bool x11, const std::function<bool()>& portalOffered);

// What works and what does not, said once in the log, in the tray tooltip and in the settings
// window; empty in an X11 session. `windows`: the toolkit shows windows (and a tray) at all;
// `portalHotKeys`: the hot keys go through the desktop's portal.
std::string displaySessionNotice(bool wayland, bool x11, bool windows, bool portalHotKeys = false);

}  // namespace tovami
