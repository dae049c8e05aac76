// Which windowing the program runs on. Until a Wayland backend exists it speaks X11: through
// XWayland where a Wayland session offers it, and with no X display at all it keeps what needs
// none (tray, agent watch, keep-awake) instead of ending.
#pragma once

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

// What works and what does not, said once in the log, in the tray tooltip and in the settings
// window; empty in an X11 session. `windows`: the toolkit shows windows (and a tray) at all.
std::string displaySessionNotice(bool wayland, bool x11, bool windows);

}  // namespace tovami
