#include "linux/app/xcb_hot_keys.h"

#include <QCoreApplication>
#include <algorithm>

#include "platform/log.h"

namespace tovami::linux_backend {

XcbGlobalHotKeys::XcbGlobalHotKeys() : connection_(qtXcbConnection()), root_(qtXcbRoot()) {}

XcbGlobalHotKeys::~XcbGlobalHotKeys() {
  for (auto& [token, grab] : grabs_) ungrab(grab);
  if (filterInstalled_ && QCoreApplication::instance())
    QCoreApplication::instance()->removeNativeEventFilter(this);
}

std::optional<GlobalHotKeys::Token> XcbGlobalHotKeys::installHandler(
    std::function<void(std::optional<HotKeyID>)> onPressed) {
  if (!connection_ || !root_ || xcb_connection_has_error(connection_)) return std::nullopt;
  onPressed_ = std::move(onPressed);
  if (!filterInstalled_) {
    QCoreApplication::instance()->installNativeEventFilter(this);
    filterInstalled_ = true;
  }
  return 0;
}

void XcbGlobalHotKeys::removeHandler(Token) {
  onPressed_ = nullptr;
}

std::optional<GlobalHotKeys::Token> XcbGlobalHotKeys::registerHotKey(HotKeyCombination combination,
                                                                     HotKeyID id) {
  if (!connection_ || !root_ || xcb_connection_has_error(connection_)) return std::nullopt;
  if (combination.letter < 'A' || combination.letter > 'Z') return std::nullopt;
  const XcbKeyboardInfo keyboard = readKeyboardInfo(connection_);
  xcb_keycode_t keycode = keyboard.keycodeFor(xcb_keysym_t(combination.letter - 'A' + 'a'));
  if (!keycode) keycode = keyboard.keycodeFor(xcb_keysym_t(combination.letter));
  if (!keycode) {
    // Seen on XWayland before the compositor has a keyboard: the key map names no such letter.
    logInfo(log_categories::kApp,
            std::string("hot key ") + combination.letter + " unavailable (not in the key map)");
    return std::nullopt;
  }

  // Ctrl stands for Command and Alt for Option, as in Qt's own shortcut mapping.
  uint16_t modifiers = 0;
  if (combination.modifiers & hot_key_modifiers::kCommand) modifiers |= XCB_MOD_MASK_CONTROL;
  if (combination.modifiers & hot_key_modifiers::kOption) modifiers |= keyboard.altMask;
  relevantMask_ = uint16_t(XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | keyboard.altMask | XCB_MOD_MASK_4);

  std::vector<uint16_t> locks = {0, XCB_MOD_MASK_LOCK};
  if (keyboard.numLockMask) {
    locks.push_back(keyboard.numLockMask);
    locks.push_back(uint16_t(keyboard.numLockMask | XCB_MOD_MASK_LOCK));
  }
  Grab grab{keycode, modifiers, {}, id};
  for (uint16_t lock : locks) {
    xcb_void_cookie_t cookie = xcb_grab_key_checked(connection_, 1, root_, uint16_t(modifiers | lock),
                                                    keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    XcbReply<xcb_generic_error_t> error(xcb_request_check(connection_, cookie));
    if (error) {
      // Another client owns this combination (BadAccess): leave nothing half-grabbed.
      logInfo(log_categories::kApp, std::string("hot key ") + combination.letter + " unavailable (X error " +
                                        std::to_string(error->error_code) + ")");
      ungrab(grab);
      return std::nullopt;
    }
    grab.variants.push_back(lock);
  }
  const Token token = next_++;
  grabs_[token] = std::move(grab);
  return token;
}

void XcbGlobalHotKeys::ungrab(const Grab& grab) {
  if (!connection_ || xcb_connection_has_error(connection_)) return;
  for (uint16_t lock : grab.variants)
    xcb_ungrab_key(connection_, grab.keycode, root_, uint16_t(grab.modifiers | lock));
  xcb_flush(connection_);
}

void XcbGlobalHotKeys::unregisterHotKey(Token token) {
  auto it = grabs_.find(token);
  if (it == grabs_.end()) return;
  ungrab(it->second);
  grabs_.erase(it);
}

bool XcbGlobalHotKeys::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
  if (eventType != "xcb_generic_event_t" || !onPressed_ || grabs_.empty()) return false;
  auto* event = static_cast<xcb_generic_event_t*>(message);
  if ((event->response_type & 0x7f) != XCB_KEY_PRESS) return false;
  auto* press = reinterpret_cast<xcb_key_press_event_t*>(event);
  // A press made while one of our own windows has focus arrives addressed to that window, so
  // the event window is not checked.
  const uint16_t state = press->state & relevantMask_;
  for (const auto& [token, grab] : grabs_) {
    if (grab.keycode == press->detail && grab.modifiers == state) {
      // From a copy: the handler runs now and may remove itself or the grabs.
      const auto onPressed = onPressed_;
      onPressed(grab.id);
      return true;
    }
  }
  return false;
}

}  // namespace tovami::linux_backend
