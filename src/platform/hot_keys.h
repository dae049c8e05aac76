// System-wide key combinations that reach the application whichever one is in front.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

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
};

}  // namespace tovami
