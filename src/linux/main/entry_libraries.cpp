// The libraries only "--list-agents" needs, opened when it first calls them. Every agent hook
// starts the entry ("tovami --hook EVENT"), so the entry must start like a small C tool. Linked the
// usual way, libxcb (with libXau, libXdmcp, libbsd and libmd behind it) and libm would cost each
// start the mapping of six libraries and their relocations, and the hook road calls none of them.
// This file is linked into the entry alone: its definitions of the functions the shared code calls
// take the place of the libraries' (the linker then drops them, --as-needed), and each forwards to
// the real one. The desktop program links the libraries as usual. A build step
// (check_entry_libraries.cmake) fails when the entry needs a library besides libc again: a new call
// into one of these from code the entry links is then forwarded here. libutf8proc is linked into
// the entry (src/linux/CMakeLists.txt): the remote side and the hooks clean text with it, and a
// server that has only the entry's package may lack the library.
#include <fenv.h>
#include <xcb/xcb.h>

#include <cmath>

#include "linux/files/shared_library.h"

namespace {

using tovami::linux_backend::SharedLibrary;

template <typename Function>
Function resolved(const SharedLibrary& library, const char* name) {
  Function function = nullptr;
  library.resolve(name, function);
  return function;
}

// Without libxcb there is no display to ask: no connection, as without $DISPLAY.
template <typename Function>
Function xcb(const char* name) {
  static const SharedLibrary library("libxcb.so.1");
  return resolved<Function>(library, name);
}

// libm: std::from_chars reads a number with a fraction through these (the process table), and a
// percentage is rounded with lround; whatever calls them loads libm, which libc's own package ships.
template <typename Function>
Function libm(const char* name) {
  static const SharedLibrary library("libm.so.6");
  return resolved<Function>(library, name);
}

}  // namespace

#define TOVAMI_REAL(library, name) static const auto real = library<decltype(&::name)>(#name)

xcb_connection_t* xcb_connect(const char* displayName, int* screen) {
  TOVAMI_REAL(xcb, xcb_connect);
  return real ? real(displayName, screen) : nullptr;
}

int xcb_connection_has_error(xcb_connection_t* connection) {
  TOVAMI_REAL(xcb, xcb_connection_has_error);
  return real && connection ? real(connection) : XCB_CONN_ERROR;
}

void xcb_disconnect(xcb_connection_t* connection) {
  TOVAMI_REAL(xcb, xcb_disconnect);
  if (real && connection) real(connection);
}

// The rest but xcb_parse_display are called only on a connection xcb_connect made, so libxcb
// is loaded by then.
xcb_get_property_cookie_t xcb_get_property(xcb_connection_t* connection, uint8_t deleteIt,
                                           xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                                           uint32_t offset, uint32_t length) {
  TOVAMI_REAL(xcb, xcb_get_property);
  return real(connection, deleteIt, window, property, type, offset, length);
}

xcb_get_property_reply_t* xcb_get_property_reply(xcb_connection_t* connection,
                                                 xcb_get_property_cookie_t cookie,
                                                 xcb_generic_error_t** error) {
  TOVAMI_REAL(xcb, xcb_get_property_reply);
  return real(connection, cookie, error);
}

void* xcb_get_property_value(const xcb_get_property_reply_t* reply) {
  TOVAMI_REAL(xcb, xcb_get_property_value);
  return real(reply);
}

int xcb_get_property_value_length(const xcb_get_property_reply_t* reply) {
  TOVAMI_REAL(xcb, xcb_get_property_value_length);
  return real(reply);
}

const xcb_setup_t* xcb_get_setup(xcb_connection_t* connection) {
  TOVAMI_REAL(xcb, xcb_get_setup);
  return real(connection);
}

xcb_screen_iterator_t xcb_setup_roots_iterator(const xcb_setup_t* setup) {
  TOVAMI_REAL(xcb, xcb_setup_roots_iterator);
  return real(setup);
}

void xcb_screen_next(xcb_screen_iterator_t* iterator) {
  TOVAMI_REAL(xcb, xcb_screen_next);
  real(iterator);
}

xcb_intern_atom_cookie_t xcb_intern_atom(xcb_connection_t* connection, uint8_t onlyIfExists,
                                         uint16_t nameLength, const char* name) {
  TOVAMI_REAL(xcb, xcb_intern_atom);
  return real(connection, onlyIfExists, nameLength, name);
}

xcb_intern_atom_reply_t* xcb_intern_atom_reply(xcb_connection_t* connection, xcb_intern_atom_cookie_t cookie,
                                               xcb_generic_error_t** error) {
  TOVAMI_REAL(xcb, xcb_intern_atom_reply);
  return real(connection, cookie, error);
}

int xcb_parse_display(const char* name, char** host, int* display, int* screen) {
  TOVAMI_REAL(xcb, xcb_parse_display);
  return real ? real(name, host, display, screen) : 0;
}

xcb_get_geometry_cookie_t xcb_get_geometry(xcb_connection_t* connection, xcb_drawable_t drawable) {
  TOVAMI_REAL(xcb, xcb_get_geometry);
  return real(connection, drawable);
}

xcb_get_geometry_reply_t* xcb_get_geometry_reply(xcb_connection_t* connection,
                                                 xcb_get_geometry_cookie_t cookie,
                                                 xcb_generic_error_t** error) {
  TOVAMI_REAL(xcb, xcb_get_geometry_reply);
  return real(connection, cookie, error);
}

xcb_get_selection_owner_cookie_t xcb_get_selection_owner(xcb_connection_t* connection, xcb_atom_t selection) {
  TOVAMI_REAL(xcb, xcb_get_selection_owner);
  return real(connection, selection);
}

xcb_get_selection_owner_reply_t* xcb_get_selection_owner_reply(xcb_connection_t* connection,
                                                               xcb_get_selection_owner_cookie_t cookie,
                                                               xcb_generic_error_t** error) {
  TOVAMI_REAL(xcb, xcb_get_selection_owner_reply);
  return real(connection, cookie, error);
}

int fegetround() noexcept {
  TOVAMI_REAL(libm, fegetround);
  return real ? real() : FE_TONEAREST;
}

int fesetround(int mode) noexcept {
  TOVAMI_REAL(libm, fesetround);
  return real ? real(mode) : (mode == FE_TONEAREST ? 0 : 1);
}

long lround(double value) noexcept {
  TOVAMI_REAL(libm, lround);
  return real ? real(value) : static_cast<long>(value < 0 ? value - 0.5 : value + 0.5);
}
