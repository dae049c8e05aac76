#include "linux/x11/xcb_support.h"

#include <QGuiApplication>
#include <cstring>

namespace tovami::linux_backend {

xcb_connection_t* qtXcbConnection() {
  if (!qGuiApp) return nullptr;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 ? x11->connection() : nullptr;
}

xcb_window_t qtXcbRoot() {
  xcb_connection_t* c = qtXcbConnection();
  if (!c || xcb_connection_has_error(c)) return 0;
  const xcb_screen_t* screen = xcbScreen(c, defaultXcbScreenNumber());
  return screen ? screen->root : 0;
}

bool qtCompositorRuns() {
  xcb_connection_t* c = qtXcbConnection();
  return c && !xcb_connection_has_error(c) && compositorRunsOn(c, defaultXcbScreenNumber());
}

xcb_keycode_t XcbKeyboardInfo::keycodeFor(xcb_keysym_t keysym) const {
  for (int k = 0; k < keycodeCount; ++k)
    for (int i = 0; i < keysymsPerKeycode; ++i)
      if (keysyms[size_t(k) * size_t(keysymsPerKeycode) + size_t(i)] == keysym)
        return xcb_keycode_t(minKeycode + k);
  return 0;
}

XcbKeyboardInfo readKeyboardInfo(xcb_connection_t* c) {
  XcbKeyboardInfo info;
  const xcb_setup_t* setup = xcb_get_setup(c);
  info.minKeycode = setup->min_keycode;
  const int count = setup->max_keycode - setup->min_keycode + 1;
  XcbReply<xcb_get_keyboard_mapping_reply_t> mapping(xcb_get_keyboard_mapping_reply(
      c, xcb_get_keyboard_mapping(c, setup->min_keycode, uint8_t(count)), nullptr));
  if (!mapping) return info;
  info.keysymsPerKeycode = mapping->keysyms_per_keycode;
  const int total = xcb_get_keyboard_mapping_keysyms_length(mapping.get());
  info.keycodeCount = info.keysymsPerKeycode ? total / info.keysymsPerKeycode : 0;
  info.keysyms = std::make_unique<xcb_keysym_t[]>(size_t(total));
  std::memcpy(info.keysyms.get(), xcb_get_keyboard_mapping_keysyms(mapping.get()),
              size_t(total) * sizeof(xcb_keysym_t));

  constexpr xcb_keysym_t kNumLock = 0xff7f, kAltL = 0xffe9, kAltR = 0xffea;
  XcbReply<xcb_get_modifier_mapping_reply_t> modifiers(
      xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr));
  if (!modifiers) return info;
  const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(modifiers.get());
  const int perModifier = modifiers->keycodes_per_modifier;
  const xcb_keycode_t numLock = info.keycodeFor(kNumLock);
  const xcb_keycode_t altL = info.keycodeFor(kAltL), altR = info.keycodeFor(kAltR);
  for (int mod = 3; mod < 8; ++mod) {  // Mod1..Mod5
    for (int i = 0; i < perModifier; ++i) {
      const xcb_keycode_t code = codes[mod * perModifier + i];
      if (code == 0) continue;
      if (code == numLock) info.numLockMask = uint16_t(1u << mod);
      if (code == altL || code == altR) info.altMask = uint16_t(1u << mod);
    }
  }
  return info;
}

}  // namespace tovami::linux_backend
