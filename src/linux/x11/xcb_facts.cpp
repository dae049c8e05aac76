#include "linux/x11/xcb_facts.h"

#include <string>

namespace tovami::linux_backend {

xcb_atom_t internAtom(xcb_connection_t* c, std::string_view name, bool onlyIfExists) {
  XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
      c, xcb_intern_atom(c, onlyIfExists, uint16_t(name.size()), name.data()), nullptr));
  return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

std::vector<xcb_atom_t> internAtoms(xcb_connection_t* c, std::initializer_list<const char*> names) {
  std::vector<xcb_intern_atom_cookie_t> cookies;
  cookies.reserve(names.size());
  for (const char* name : names)
    cookies.push_back(xcb_intern_atom(c, 0, uint16_t(std::string_view(name).size()), name));
  std::vector<xcb_atom_t> atoms;
  atoms.reserve(names.size());
  for (auto cookie : cookies) {
    XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(c, cookie, nullptr));
    atoms.push_back(reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE));
  }
  return atoms;
}

int defaultXcbScreenNumber() {
  char* host = nullptr;
  int display = 0, screen = 0;
  if (!xcb_parse_display(nullptr, &host, &display, &screen)) return 0;
  std::free(host);
  return screen;
}

xcb_screen_t* xcbScreen(xcb_connection_t* c, int number) {
  if (number < 0) return nullptr;
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
  for (int i = 0; i < number && it.rem; ++i) xcb_screen_next(&it);
  return it.rem ? it.data : nullptr;
}

int xcbScreenNumberOf(xcb_connection_t* c, xcb_window_t window) {
  XcbReply<xcb_get_geometry_reply_t> geometry(
      xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
  if (geometry) {
    int number = 0;
    for (xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem;
         xcb_screen_next(&it), ++number)
      if (it.data->root == geometry->root) return number;
  }
  return defaultXcbScreenNumber();
}

bool selectionOwned(xcb_connection_t* c, xcb_atom_t selection) {
  XcbReply<xcb_get_selection_owner_reply_t> owner(
      xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr));
  return owner && owner->owner != XCB_WINDOW_NONE;
}

bool compositorRunsOn(xcb_connection_t* c, int number) {
  const xcb_atom_t selection = internAtom(c, "_NET_WM_CM_S" + std::to_string(number), true);
  return selection != XCB_ATOM_NONE && selectionOwned(c, selection);
}

}  // namespace tovami::linux_backend
