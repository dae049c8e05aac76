// The baseline for bench/nap_latency.py: the least a program can do to cover every display on a
// key press. Ctrl+Alt+N maps one dark override-redirect window per monitor (created on the press,
// background painted by the server); the next Ctrl+Alt+N or Escape destroys them.
#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr xcb_keysym_t kN = 'n';
constexpr xcb_keysym_t kEscape = 0xff1b;
constexpr uint16_t kControlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;

xcb_keycode_t keycodeOf(xcb_connection_t* c, xcb_keysym_t keysym) {
  const xcb_setup_t* setup = xcb_get_setup(c);
  const int count = setup->max_keycode - setup->min_keycode + 1;
  auto* reply = xcb_get_keyboard_mapping_reply(
      c, xcb_get_keyboard_mapping(c, setup->min_keycode, uint8_t(count)), nullptr);
  if (!reply) return 0;
  const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
  xcb_keycode_t found = 0;
  for (int i = 0; i < count * reply->keysyms_per_keycode && !found; ++i)
    if (syms[i] == keysym) found = xcb_keycode_t(setup->min_keycode + i / reply->keysyms_per_keycode);
  std::free(reply);
  return found;
}

struct Area {
  int16_t x, y;
  uint16_t width, height;
};

std::vector<Area> monitors(xcb_connection_t* c, xcb_screen_t* screen) {
  std::vector<Area> areas;
  auto* reply = xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, screen->root, 1), nullptr);
  if (reply) {
    for (auto it = xcb_randr_get_monitors_monitors_iterator(reply); it.rem; xcb_randr_monitor_info_next(&it))
      areas.push_back({it.data->x, it.data->y, it.data->width, it.data->height});
    std::free(reply);
  }
  if (areas.empty()) areas.push_back({0, 0, screen->width_in_pixels, screen->height_in_pixels});
  return areas;
}

}  // namespace

int main() {
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c)) {
    std::fputs("bare_xcb_cover: cannot open the display\n", stderr);
    return 1;
  }
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  const xcb_keycode_t n = keycodeOf(c, kN), escape = keycodeOf(c, kEscape);
  for (int locks : {0, int(XCB_MOD_MASK_2), int(XCB_MOD_MASK_LOCK), XCB_MOD_MASK_2 | XCB_MOD_MASK_LOCK})
    xcb_grab_key(c, 1, screen->root, uint16_t(kControlAlt | locks), n, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
  xcb_flush(c);
  std::puts("ready");
  std::fflush(stdout);

  std::vector<xcb_window_t> windows;
  while (xcb_generic_event_t* event = xcb_wait_for_event(c)) {
    if ((event->response_type & 0x7f) == XCB_KEY_PRESS) {
      const auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
      if (windows.empty() && key->detail == n) {
        for (const Area& area : monitors(c, screen)) {
          const xcb_window_t window = xcb_generate_id(c);
          const uint32_t values[] = {0x100d0c, 1, XCB_EVENT_MASK_KEY_PRESS};  // pixel, override-redirect
          xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, area.x, area.y, area.width,
                            area.height, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                            XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
          xcb_map_window(c, window);
          windows.push_back(window);
        }
        xcb_set_input_focus(c, XCB_INPUT_FOCUS_POINTER_ROOT, windows.back(), XCB_CURRENT_TIME);
      } else if (!windows.empty() && (key->detail == n || key->detail == escape)) {
        for (xcb_window_t window : windows) xcb_destroy_window(c, window);
        windows.clear();
      }
      xcb_flush(c);
    }
    std::free(event);
  }
  xcb_disconnect(c);
  return 0;
}
