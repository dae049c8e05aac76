// Window activation through the window manager (EWMH): the windows of a process from
// _NET_CLIENT_LIST_STACKING and _NET_WM_PID, titles from _NET_WM_NAME (else WM_NAME), and a
// _NET_ACTIVE_WINDOW request stamped with the server's current time. Uses its own X connection
// (safe off the GUI thread). Without a display or an EWMH window manager nothing is found.
#pragma once

#include <mutex>
#include <string>

#include "platform/window_activation.h"

struct xcb_connection_t;

namespace tovami::linux_backend {

class EwmhWindowActivation final : public WindowActivation {
 public:
  explicit EwmhWindowActivation(std::string display = {});
  ~EwmhWindowActivation() override;
  EwmhWindowActivation(const EwmhWindowActivation&) = delete;
  EwmhWindowActivation& operator=(const EwmhWindowActivation&) = delete;

  std::vector<TopLevelWindow> windowsOf(int32_t pid) override;
  bool activate(uint64_t window) override;
  std::optional<int32_t> frontmostPID() override;
  std::optional<TopLevelWindow> focusedWindow() override;
  // The window the window manager calls active.
  std::optional<uint64_t> activeWindow();
  // Every managed window, most recently active first (tests and the Warp lookup).
  std::vector<TopLevelWindow> allWindows();

 private:
  bool connect();  // with mutex_ held
  std::vector<TopLevelWindow> readWindows(std::optional<int32_t> pid);
  uint32_t serverTime();
  std::string titleOf(uint32_t window);  // with mutex_ held

  std::mutex mutex_;
  std::string display_;
  xcb_connection_t* connection_ = nullptr;
  uint32_t root_ = 0;
  uint32_t stampWindow_ = 0;
  struct Atoms {
    uint32_t clientList, clientListStacking, pid, name, utf8, active, wmState;
  } atoms_{};
};

}  // namespace tovami::linux_backend
