// Running applications on X11: the processes that own a managed top-level window, read from the
// window manager's _NET_CLIENT_LIST and each window's _NET_WM_PID, and the frontmost one behind
// _NET_ACTIVE_WINDOW. Uses its own X connection, so it is safe off the GUI thread. Without a
// display or a window manager no process is an application.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <unordered_set>

#include "platform/running_apps.h"

struct xcb_connection_t;

namespace tovami::linux_backend {

class X11RunningApplications final : public RunningApplications {
 public:
  // `display` empty means $DISPLAY.
  explicit X11RunningApplications(std::string display = {});
  ~X11RunningApplications() override;
  X11RunningApplications(const X11RunningApplications&) = delete;
  X11RunningApplications& operator=(const X11RunningApplications&) = delete;

  bool isRegisteredApplication(int32_t pid) override;
  std::optional<int32_t> frontmostApplicationPID() override;

 private:
  bool connect();  // with mutex_ held
  void refreshOwners();

  std::mutex mutex_;
  std::string display_;
  xcb_connection_t* connection_ = nullptr;
  uint32_t root_ = 0;
  uint32_t clientListAtom_ = 0;
  uint32_t pidAtom_ = 0;
  uint32_t activeAtom_ = 0;
  std::chrono::steady_clock::time_point nextConnectAttempt_{};
  // One scan asks about many processes: the window owners are read at most once a second.
  std::unordered_set<int32_t> owners_;
  std::chrono::steady_clock::time_point ownersReadAt_{};
  bool ownersValid_ = false;
};

}  // namespace tovami::linux_backend
