#include "linux/integrations/xtest_key_synthesizer.h"

#include <xcb/xtest.h>

#include "linux/x11/xcb_support.h"

namespace tovami::linux_backend {
namespace {
constexpr xcb_keysym_t kReturn = 0xff0d;
constexpr xcb_keysym_t kEscape = 0xff1b;
}  // namespace

bool XTestKeySynthesizer::postKey(AnswerKey key) {
  xcb_connection_t* connection = qtXcbConnection();
  if (!connection) return false;
  const xcb_keycode_t keycode =
      readKeyboardInfo(connection).keycodeFor(key == AnswerKey::returnKey ? kReturn : kEscape);
  if (!keycode) return false;
  const auto down =
      xcb_test_fake_input_checked(connection, XCB_KEY_PRESS, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
  const auto up =
      xcb_test_fake_input_checked(connection, XCB_KEY_RELEASE, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
  XcbReply<xcb_generic_error_t> downError(xcb_request_check(connection, down));
  XcbReply<xcb_generic_error_t> upError(xcb_request_check(connection, up));
  return !downError && !upError;
}

}  // namespace tovami::linux_backend
