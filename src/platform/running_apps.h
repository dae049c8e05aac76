// Which processes are applications the user sees. On macOS a registered running application;
// on Linux/X11 a process owning a top-level window (EWMH _NET_WM_PID over _NET_CLIENT_LIST).
// Without a window manager (or a display) no process counts, and callers fall back to the
// process they started from.
#pragma once

#include <cstdint>
#include <optional>

namespace tovami {

class RunningApplications {
 public:
  virtual ~RunningApplications() = default;
  // Callable from any thread.
  virtual bool isRegisteredApplication(int32_t pid) = 0;
  // The process behind the window the user is looking at, if known.
  virtual std::optional<int32_t> frontmostApplicationPID() = 0;
};

// No application is registered anywhere: terminal lookups keep the process they matched.
class NoRunningApplications final : public RunningApplications {
 public:
  bool isRegisteredApplication(int32_t) override { return false; }
  std::optional<int32_t> frontmostApplicationPID() override { return std::nullopt; }
};

}  // namespace tovami
