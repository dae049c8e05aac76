#include "app/display_session.h"

namespace tovami {

DisplaySession chooseDisplaySession(const SessionEnvironment& environment) {
  DisplaySession session;
  session.wayland = !environment.waylandDisplay.empty() || environment.sessionType == "wayland";
  const bool userChoice = !environment.qtPlatform.empty();
  if (!environment.display.empty()) {
    // XWayland: the hot keys and the nap's input capture need X11, so a Wayland choice is overridden.
    session.x11 = !userChoice || environment.qtPlatform.find("xcb") != std::string::npos ||
                  environment.qtPlatform.find("wayland") != std::string::npos;
    if (session.x11) session.qtPlatform = "xcb";
  } else if (!userChoice) {
    // A native Wayland platform where one is installed gives real windows; otherwise nothing is shown.
    session.qtPlatform = session.wayland ? "wayland;offscreen" : "offscreen";
  }
  return session;
}

HotKeyRoute chooseHotKeyRoute(bool wayland, bool x11, const std::function<bool()>& portalOffered) {
  // Without X11 the windows the keys open cannot show either: the grabs simply find no display.
  return wayland && x11 && portalOffered() ? HotKeyRoute::portal : HotKeyRoute::x11Grabs;
}

std::string displaySessionNotice(bool wayland, bool x11, bool windows, bool portalHotKeys) {
  if (x11 && !wayland) return {};
  constexpr const char* kNapCaveat =
      " A nap covers the screens, but Wayland windows can still get the keyboard: it locks nothing and "
      "wakes without a password.";
  if (x11 && portalHotKeys)
    return std::string(
               "Wayland session: the tray, agent watch and keep-awake work, and the hot keys go "
               "through the desktop's shortcut service.") +
           kNapCaveat;
  if (x11)
    return std::string(
               "Wayland session: the tray, agent watch and keep-awake work. This desktop offers no "
               "shortcut service, so hot keys work only while an X11 application has the focus.") +
           kNapCaveat;
  if (windows)
    return "Wayland session without X11: the tray, agent watch and keep-awake work. Hot keys and naps need "
           "X11 (XWayland).";
  return "No display: agent watch and keep-awake run without a tray. The tray, hot keys and naps need a "
         "display (X11 or XWayland).";
}

}  // namespace tovami
