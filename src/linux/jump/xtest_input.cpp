#include "linux/jump/xtest_input.h"

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "linux/x11/xcb_support.h"

namespace tovami::linux_backend {
namespace {

constexpr uint32_t kEscape = 0xff1b, kReturn = 0xff0d, kShiftL = 0xffe1;
// Clients learn about a changed key map from MappingNotify; give them a moment to reload it.
constexpr auto kRemapSettle = std::chrono::milliseconds(25);

void sendKey(xcb_connection_t* c, xcb_keycode_t code, bool down) {
  xcb_test_fake_input(c, down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
}

void sync(xcb_connection_t* c) {
  XcbReply<xcb_get_input_focus_reply_t> reply(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

// Code points of one UTF-8 text; invalid bytes are skipped.
std::vector<uint32_t> codePoints(const std::string& text) {
  std::vector<uint32_t> points;
  for (size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const int length = byte < 0x80         ? 1
                       : (byte >> 5) == 6  ? 2
                       : (byte >> 4) == 14 ? 3
                       : (byte >> 3) == 30 ? 4
                                           : 0;
    if (length == 0 || i + static_cast<size_t>(length) > text.size()) {
      ++i;
      continue;
    }
    uint32_t cp = length == 1 ? byte : byte & (0x7f >> length);
    for (int k = 1; k < length; ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(text[i + static_cast<size_t>(k)]) & 0x3f);
    points.push_back(cp);
    i += static_cast<size_t>(length);
  }
  return points;
}

}  // namespace

XTestInput::~XTestInput() {
  if (connection_) xcb_disconnect(connection_);
}

bool XTestInput::connect() {
  if (connection_ && !xcb_connection_has_error(connection_)) return true;
  if (connection_) xcb_disconnect(connection_);
  connection_ = nullptr;
  if (!std::getenv("DISPLAY")) return false;
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c)) {
    xcb_disconnect(c);
    return false;
  }
  connection_ = c;
  return true;
}

bool XTestInput::typeKeysym(uint32_t keysym) {
  const XcbKeyboardInfo keyboard = readKeyboardInfo(connection_);
  const int perCode = keyboard.keysymsPerKeycode;
  xcb_keycode_t spare = 0;
  for (int index = 0; index < keyboard.keycodeCount && perCode > 0; ++index) {
    const xcb_keysym_t* row = keyboard.keysyms.get() + index * perCode;
    const auto code = static_cast<xcb_keycode_t>(keyboard.minKeycode + index);
    const bool shifted = perCode > 1 && row[1] == keysym && row[0] != keysym;
    if (row[0] == keysym || shifted) {
      const xcb_keycode_t shift = keyboard.keycodeFor(kShiftL);
      if (shifted && !shift) continue;
      if (shifted) sendKey(connection_, shift, true);
      sendKey(connection_, code, true);
      sendKey(connection_, code, false);
      if (shifted) sendKey(connection_, shift, false);
      return true;
    }
    bool empty = true;
    for (int k = 0; k < perCode; ++k) empty = empty && row[k] == 0;
    if (empty && !spare) spare = code;
  }
  if (!spare) return false;
  std::vector<xcb_keysym_t> mapped(static_cast<size_t>(perCode), keysym);
  xcb_change_keyboard_mapping(connection_, 1, spare, static_cast<uint8_t>(perCode), mapped.data());
  sync(connection_);
  std::this_thread::sleep_for(kRemapSettle);
  sendKey(connection_, spare, true);
  sendKey(connection_, spare, false);
  sync(connection_);
  std::this_thread::sleep_for(kRemapSettle);
  std::vector<xcb_keysym_t> cleared(static_cast<size_t>(perCode), 0);
  xcb_change_keyboard_mapping(connection_, 1, spare, static_cast<uint8_t>(perCode), cleared.data());
  return true;
}

bool XTestInput::pressKey(Key key) {
  std::lock_guard lock(mutex_);
  if (!connect()) return false;
  const bool typed = typeKeysym(key == Key::escape ? kEscape : kReturn);
  sync(connection_);
  return typed;
}

bool XTestInput::typeText(const std::string& text, int32_t) {
  std::lock_guard lock(mutex_);
  if (!connect()) return false;
  bool all = true;
  for (uint32_t cp : codePoints(text)) {
    if (cp < 0x20 || cp == 0x7f) continue;  // control characters are not text
    // Latin-1 characters are their own keysyms; the rest use the Unicode keysym range.
    all = typeKeysym(cp < 0x100 ? cp : 0x01000000u | cp) && all;
    xcb_flush(connection_);
  }
  sync(connection_);
  return all;
}

}  // namespace tovami::linux_backend
