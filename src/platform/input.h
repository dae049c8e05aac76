// Keyboard and pointer input seen by the application while it is in front, and the pointer's
// visibility.
#pragma once

#include <functional>

namespace tovami {

// The keys the logic tells apart; every other key is `other`.
enum class InputKey { other, returnKey, space, escape, keypadEnter };

enum class InputEventType { keyDown, mouseDown, mouseMoved };

struct InputEvent {
  InputEventType type = InputEventType::keyDown;
  InputKey key = InputKey::other;  // key events only
  bool isAutoRepeat = false;       // key events only: a repeat of a held key
};

namespace input_mask {
inline constexpr unsigned kKeyDown = 1u << 0;
inline constexpr unsigned kMouseDown = 1u << 1;  // left, right and other buttons
inline constexpr unsigned kMouseMoved = 1u << 2;
}  // namespace input_mask

class InputMonitoring {
 public:
  virtual ~InputMonitoring() = default;
  // Returns true to swallow the event, false to pass it on.
  using Handler = std::function<bool(const InputEvent&)>;
  using Token = int;

  // An application-local monitor for the event types in `mask`; handlers run on the main queue.
  virtual Token addLocalMonitor(unsigned mask, Handler handler) = 0;
  virtual void removeMonitor(Token token) = 0;
  // Called on the main queue when another application comes forward (something takes the focus
  // or stacks above our windows).
  virtual Token addResignActiveObserver(std::function<void()> observer) = 0;
  virtual void removeResignActiveObserver(Token token) = 0;
  // Pointer visibility; calls nest: each hide needs one unhide.
  virtual void hideCursor() = 0;
  virtual void unhideCursor() = 0;
  // Whether typed keys reach only this application now (on X11: its keyboard grab is held).
  // Without it a key may go to another program: it is nobody's poke, and no password is asked.
  virtual bool holdsKeyboard() const { return true; }
  // Whether holding the keyboard can keep it from every other window at all. False on XWayland
  // in a Wayland session: the grab covers X11 windows only, and a Wayland window that takes the
  // focus gets what is typed.
  virtual bool canHoldKeyboard() const { return true; }
};

}  // namespace tovami
