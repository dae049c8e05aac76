#include "linux/agents/x11_running_apps.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "linux/x11/xcb_facts.h"

namespace tovami::linux_backend {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kOwnersLifetime = std::chrono::seconds(1);
constexpr auto kReconnectDelay = std::chrono::seconds(30);

template <typename T>
using Reply = XcbReply<T>;

// Reads a CARDINAL or WINDOW list property (32-bit items).
std::vector<uint32_t> readList(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                               uint32_t maxItems) {
  Reply<xcb_get_property_reply_t> reply(
      xcb_get_property_reply(c, xcb_get_property(c, 0, window, property, type, 0, maxItems), nullptr));
  std::vector<uint32_t> items;
  if (!reply || reply->format != 32 || reply->type != type) return items;
  const auto* data = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
  const int count = xcb_get_property_value_length(reply.get()) / 4;
  items.assign(data, data + std::max(count, 0));
  return items;
}

}  // namespace

X11RunningApplications::X11RunningApplications(std::string display) : display_(std::move(display)) {}

X11RunningApplications::~X11RunningApplications() {
  if (connection_) xcb_disconnect(connection_);
}

bool X11RunningApplications::connect() {
  if (connection_ && !xcb_connection_has_error(connection_)) return true;
  if (connection_) {
    xcb_disconnect(connection_);
    connection_ = nullptr;
  }
  const auto now = Clock::now();
  if (now < nextConnectAttempt_) return false;
  nextConnectAttempt_ = now + kReconnectDelay;
  if (display_.empty() && !std::getenv("DISPLAY")) return false;
  int screenNumber = 0;
  connection_ = xcb_connect(display_.empty() ? nullptr : display_.c_str(), &screenNumber);
  if (xcb_connection_has_error(connection_)) {
    xcb_disconnect(connection_);
    connection_ = nullptr;
    return false;
  }
  const xcb_screen_t* screen = xcbScreen(connection_, screenNumber);
  const auto atoms = internAtoms(connection_, {"_NET_CLIENT_LIST", "_NET_WM_PID", "_NET_ACTIVE_WINDOW"});
  if (!screen || std::count(atoms.begin(), atoms.end(), xcb_atom_t(XCB_ATOM_NONE))) {
    xcb_disconnect(connection_);
    connection_ = nullptr;
    return false;
  }
  root_ = screen->root;
  clientListAtom_ = atoms[0];
  pidAtom_ = atoms[1];
  activeAtom_ = atoms[2];
  return true;
}

void X11RunningApplications::refreshOwners() {
  const auto now = Clock::now();
  if (ownersValid_ && now - ownersReadAt_ < kOwnersLifetime) return;
  owners_.clear();
  ownersValid_ = true;
  ownersReadAt_ = now;
  if (!connect()) return;
  const auto windows = readList(connection_, root_, clientListAtom_, XCB_ATOM_WINDOW, 16384);
  // Ask for every window's pid first, then collect the replies: one round trip in all.
  std::vector<xcb_get_property_cookie_t> cookies;
  cookies.reserve(windows.size());
  for (uint32_t window : windows)
    cookies.push_back(xcb_get_property(connection_, 0, window, pidAtom_, XCB_ATOM_CARDINAL, 0, 1));
  for (auto cookie : cookies) {
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection_, cookie, nullptr));
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) != 4) continue;
    const uint32_t pid = *static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    if (pid > 0 && pid <= 0x7fffffff) owners_.insert(static_cast<int32_t>(pid));
  }
}

bool X11RunningApplications::isRegisteredApplication(int32_t pid) {
  std::lock_guard lock(mutex_);
  refreshOwners();
  return owners_.contains(pid);
}

std::optional<int32_t> X11RunningApplications::frontmostApplicationPID() {
  std::lock_guard lock(mutex_);
  if (!connect()) return std::nullopt;
  const auto active = readList(connection_, root_, activeAtom_, XCB_ATOM_WINDOW, 1);
  if (active.empty() || active[0] == 0) return std::nullopt;
  const auto pid = readList(connection_, active[0], pidAtom_, XCB_ATOM_CARDINAL, 1);
  if (pid.empty() || pid[0] == 0 || pid[0] > 0x7fffffff) return std::nullopt;
  return static_cast<int32_t>(pid[0]);
}

}  // namespace tovami::linux_backend
