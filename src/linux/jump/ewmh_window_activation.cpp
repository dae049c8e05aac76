#include "linux/jump/ewmh_window_activation.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "linux/x11/xcb_support.h"
#include "platform/log.h"

namespace tovami::linux_backend {
namespace {

constexpr uint32_t kMaxWindows = 16384;

std::vector<uint32_t> readCardinals(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property,
                                    xcb_atom_t type, uint32_t maxItems) {
  XcbReply<xcb_get_property_reply_t> reply(
      xcb_get_property_reply(c, xcb_get_property(c, 0, window, property, type, 0, maxItems), nullptr));
  std::vector<uint32_t> items;
  if (!reply || reply->format != 32 || reply->type != type) return items;
  const auto* data = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
  items.assign(data, data + std::max(xcb_get_property_value_length(reply.get()) / 4, 0));
  return items;
}

std::string textOf(xcb_get_property_reply_t* reply) {
  if (!reply || reply->format != 8) return {};
  return std::string(static_cast<const char*>(xcb_get_property_value(reply)),
                     static_cast<size_t>(std::max(xcb_get_property_value_length(reply), 0)));
}

}  // namespace

EwmhWindowActivation::EwmhWindowActivation(std::string display) : display_(std::move(display)) {}

EwmhWindowActivation::~EwmhWindowActivation() {
  if (connection_) xcb_disconnect(connection_);
}

bool EwmhWindowActivation::connect() {
  if (connection_ && !xcb_connection_has_error(connection_)) return true;
  if (connection_) xcb_disconnect(connection_);
  connection_ = nullptr;
  if (display_.empty() && !std::getenv("DISPLAY")) return false;
  int screenNumber = 0;
  xcb_connection_t* c = xcb_connect(display_.empty() ? nullptr : display_.c_str(), &screenNumber);
  if (xcb_connection_has_error(c)) {
    xcb_disconnect(c);
    return false;
  }
  const xcb_screen_t* screen = xcbScreen(c, screenNumber);
  if (!screen) {
    xcb_disconnect(c);
    return false;
  }
  const auto values = internAtoms(c, {"_NET_CLIENT_LIST", "_NET_CLIENT_LIST_STACKING", "_NET_WM_PID",
                                      "_NET_WM_NAME", "UTF8_STRING", "_NET_ACTIVE_WINDOW", "WM_STATE"});
  atoms_ = {values[0], values[1], values[2], values[3], values[4], values[5], values[6]};
  root_ = screen->root;
  // A tiny unmapped window whose property changes tell the server's current time.
  stampWindow_ = xcb_generate_id(c);
  const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_create_window(c, XCB_COPY_FROM_PARENT, stampWindow_, root_, -1, -1, 1, 1, 0,
                    XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
  xcb_flush(c);
  connection_ = c;
  return true;
}

uint32_t EwmhWindowActivation::serverTime() {
  const char stamp = 0;
  xcb_change_property(connection_, XCB_PROP_MODE_APPEND, stampWindow_, atoms_.wmState, XCB_ATOM_STRING, 8, 0,
                      &stamp);
  xcb_flush(connection_);
  // The server answers at once; a dead connection returns null and the request goes unstamped.
  while (xcb_generic_event_t* event = xcb_wait_for_event(connection_)) {
    XcbReply<xcb_generic_event_t> owned(event);
    if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
      auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(event);
      if (notify->window == stampWindow_) return notify->time;
    }
  }
  return XCB_CURRENT_TIME;
}

std::vector<TopLevelWindow> EwmhWindowActivation::readWindows(std::optional<int32_t> pid) {
  std::vector<TopLevelWindow> result;
  if (!connect()) return result;
  auto windows = readCardinals(connection_, root_, atoms_.clientListStacking, XCB_ATOM_WINDOW, kMaxWindows);
  if (windows.empty())
    windows = readCardinals(connection_, root_, atoms_.clientList, XCB_ATOM_WINDOW, kMaxWindows);
  else
    std::reverse(windows.begin(), windows.end());  // stacking order is bottom to top
  // Ask for every pid at once, then the titles of the matching windows: two round trips.
  std::vector<xcb_get_property_cookie_t> pidCookies;
  for (uint32_t window : windows)
    pidCookies.push_back(xcb_get_property(connection_, 0, window, atoms_.pid, XCB_ATOM_CARDINAL, 0, 1));
  std::vector<std::pair<TopLevelWindow, std::pair<xcb_get_property_cookie_t, xcb_get_property_cookie_t>>>
      found;
  for (size_t i = 0; i < windows.size(); ++i) {
    XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection_, pidCookies[i], nullptr));
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) != 4) continue;
    const uint32_t owner = *static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    if (owner == 0 || owner > 0x7fffffff || (pid && static_cast<int32_t>(owner) != *pid)) continue;
    found.push_back(
        {TopLevelWindow{windows[i], static_cast<int32_t>(owner), {}},
         {xcb_get_property(connection_, 0, windows[i], atoms_.name, atoms_.utf8, 0, 1024),
          xcb_get_property(connection_, 0, windows[i], XCB_ATOM_WM_NAME, XCB_ATOM_ANY, 0, 1024)}});
  }
  for (auto& [window, cookies] : found) {
    XcbReply<xcb_get_property_reply_t> netName(xcb_get_property_reply(connection_, cookies.first, nullptr));
    XcbReply<xcb_get_property_reply_t> wmName(xcb_get_property_reply(connection_, cookies.second, nullptr));
    window.title = textOf(netName.get());
    if (window.title.empty()) window.title = textOf(wmName.get());
    result.push_back(std::move(window));
  }
  return result;
}

std::vector<TopLevelWindow> EwmhWindowActivation::windowsOf(int32_t pid) {
  std::lock_guard lock(mutex_);
  return readWindows(pid);
}

std::vector<TopLevelWindow> EwmhWindowActivation::allWindows() {
  std::lock_guard lock(mutex_);
  return readWindows(std::nullopt);
}

bool EwmhWindowActivation::activate(uint64_t window) {
  std::lock_guard lock(mutex_);
  if (!connect() || !atoms_.active || window == 0 || window > 0xffffffffu) return false;
  xcb_client_message_event_t event{};
  event.response_type = XCB_CLIENT_MESSAGE;
  event.format = 32;
  event.window = static_cast<xcb_window_t>(window);
  event.type = atoms_.active;
  event.data.data32[0] = 2;  // source: a pager, acting for the user
  event.data.data32[1] = serverTime();
  const auto cookie = xcb_send_event_checked(
      connection_, 0, root_, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
      reinterpret_cast<const char*>(&event));
  XcbReply<xcb_generic_error_t> error(xcb_request_check(connection_, cookie));
  return !error;
}

std::optional<int32_t> EwmhWindowActivation::frontmostPID() {
  std::lock_guard lock(mutex_);
  if (!connect()) return std::nullopt;
  const auto active = readCardinals(connection_, root_, atoms_.active, XCB_ATOM_WINDOW, 1);
  if (active.empty() || active[0] == 0) return std::nullopt;
  const auto pid = readCardinals(connection_, active[0], atoms_.pid, XCB_ATOM_CARDINAL, 1);
  if (pid.empty() || pid[0] == 0 || pid[0] > 0x7fffffff) return std::nullopt;
  return static_cast<int32_t>(pid[0]);
}

std::string EwmhWindowActivation::titleOf(uint32_t window) {
  const auto netName = xcb_get_property(connection_, 0, window, atoms_.name, atoms_.utf8, 0, 1024);
  const auto wmName = xcb_get_property(connection_, 0, window, XCB_ATOM_WM_NAME, XCB_ATOM_ANY, 0, 1024);
  XcbReply<xcb_get_property_reply_t> netReply(xcb_get_property_reply(connection_, netName, nullptr));
  XcbReply<xcb_get_property_reply_t> wmReply(xcb_get_property_reply(connection_, wmName, nullptr));
  std::string title = textOf(netReply.get());
  return title.empty() ? textOf(wmReply.get()) : title;
}

std::optional<TopLevelWindow> EwmhWindowActivation::focusedWindow() {
  std::lock_guard lock(mutex_);
  if (!connect()) return std::nullopt;
  const auto active = readCardinals(connection_, root_, atoms_.active, XCB_ATOM_WINDOW, 1);
  if (active.empty() || active[0] == 0) return std::nullopt;
  // A window without _NET_WM_PID still has an id and a title: it just belongs to no known process.
  const auto pid = readCardinals(connection_, active[0], atoms_.pid, XCB_ATOM_CARDINAL, 1);
  const bool known = !pid.empty() && pid[0] != 0 && pid[0] <= 0x7fffffff;
  return TopLevelWindow{active[0], known ? static_cast<int32_t>(pid[0]) : 0, titleOf(active[0])};
}

std::optional<uint64_t> EwmhWindowActivation::activeWindow() {
  std::lock_guard lock(mutex_);
  if (!connect()) return std::nullopt;
  const auto active = readCardinals(connection_, root_, atoms_.active, XCB_ATOM_WINDOW, 1);
  if (active.empty() || active[0] == 0) return std::nullopt;
  return active[0];
}

}  // namespace tovami::linux_backend
