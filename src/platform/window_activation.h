// Bringing another application's window to the front: on X11 through the window manager (EWMH
// _NET_ACTIVE_WINDOW), on macOS by activating the running application. Callable from any thread;
// without a window manager nothing can be activated and every call says so.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tovami {

struct TopLevelWindow {
  uint64_t id = 0;
  int32_t pid = 0;
  std::string title;
  bool operator==(const TopLevelWindow&) const = default;
};

class WindowActivation {
 public:
  virtual ~WindowActivation() = default;
  // The managed top-level windows owned by `pid`, most recently active first when known.
  virtual std::vector<TopLevelWindow> windowsOf(int32_t pid) = 0;
  // Asks the window manager to activate (raise and focus) the window; true when it was asked.
  virtual bool activate(uint64_t window) = 0;
  // The process owning the active window.
  virtual std::optional<int32_t> frontmostPID() = 0;
  // The active window itself: its id, owner and title. One process may own many windows, so
  // "which window" needs the id, not the owner.
  virtual std::optional<TopLevelWindow> focusedWindow() = 0;
};

// Keys and text sent as if typed, to whatever window has the keyboard focus.
class SyntheticInput {
 public:
  virtual ~SyntheticInput() = default;
  enum class Key { escape, returnKey };
  virtual bool pressKey(Key key) = 0;
  // Types every character of the UTF-8 text; `pid` is the process meant to receive it (macOS
  // posts to it directly; X11 types into the focused window, which the caller has verified).
  virtual bool typeText(const std::string& text, int32_t pid) = 0;
};

// Running a script in the terminal's own scripting language (AppleScript on macOS).
class ScriptRunner {
 public:
  virtual ~ScriptRunner() = default;
  // True when the script ran without error; an error is logged by the runner.
  virtual bool runScript(const std::string& source) = 0;
};

}  // namespace tovami
