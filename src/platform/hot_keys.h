// System-wide key combinations that reach the application whichever one is in front.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tovami {

// Identity of a registered combination: a four-character signature and a number.
struct HotKeyID {
  std::uint32_t signature = 0;
  std::uint32_t id = 0;
  bool operator==(const HotKeyID&) const = default;
};

// Modifier bits of a combination. Each platform maps them to its own keys: on Linux `command`
// is Ctrl and `option` is Alt.
namespace hot_key_modifiers {
inline constexpr std::uint32_t kCommand = 0x100;
inline constexpr std::uint32_t kOption = 0x800;
}  // namespace hot_key_modifiers

struct HotKeyCombination {
  char letter = 'N';  // an upper-case letter A-Z
  std::uint32_t modifiers = 0;
  // For desktops that list the application's shortcuts: a stable name and what it does.
  const char* name = "";
  const char* description = "";
};

// What the desktop made of a registered combination. X11 grabs answer at once; a desktop's
// shortcut service answers later, may show the user a dialog to change the keys, and may change
// them again at any time.
struct HotKeyBinding {
  enum class State {
    pending,  // asked, no answer yet
    bound,    // works with `trigger` (empty: the combination as asked)
    taken,    // another program holds the combination
    refused,  // the desktop or the user declined it
    noKeys,   // accepted, but no keys assigned to it
    unnamed,  // works (it was pressed), but the desktop does not say with which keys
  };
  State state = State::pending;
  std::string trigger;  // the keys as the desktop names them, such as "Ctrl+Alt+N"
  bool operator==(const HotKeyBinding&) const = default;
};

class GlobalHotKeys {
 public:
  virtual ~GlobalHotKeys() = default;
  using Token = int;
  // Installs the application's hot-key handler. `onPressed` runs on the platform's event thread
  // with the id of the pressed combination (absent when it cannot be read). Absent on failure.
  virtual std::optional<Token> installHandler(std::function<void(std::optional<HotKeyID>)> onPressed) = 0;
  virtual void removeHandler(Token token) = 0;
  // Absent when the combination cannot be registered (another application owns it); nothing
  // is left half-registered then.
  virtual std::optional<Token> registerHotKey(HotKeyCombination combination, HotKeyID id) = 0;
  virtual void unregisterHotKey(Token token) = 0;
  // Where binding is asked rather than done: a returned token means "asked", and every answer
  // and later change for a registered id arrives here, on the main thread. Platforms that bind
  // at once never call it.
  virtual void setBindingObserver(std::function<void(HotKeyID, HotKeyBinding)> observer) { (void)observer; }
  virtual bool bindsLater() const { return false; }
  // True where `onPressed` runs on the main thread already (an X11 event filter): the press is
  // then handled at once, without a further trip through the main queue.
  virtual bool pressesOnMainThread() const { return false; }
};

}  // namespace tovami
