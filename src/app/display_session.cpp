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

std::string displaySessionNotice(bool wayland, bool x11) {
  if (x11 && !wayland) return {};
  const std::string works = "The tray, agent watch and keep-awake work. ";
  if (x11)
    return "Wayland session: " + works +
           "Hot keys work only while an X11 application has the focus, and a nap cannot capture the "
           "input of Wayland windows.";
  return (wayland ? "Wayland session without X11: " : "No display: ") + works +
         "Hot keys and naps need an X11 display (XWayland).";
}

}  // namespace tovami
