// One Tovami per user session: the well-known name app.tovami.Tovami on the session bus or,
// where no session bus answers, an exclusive lock on $XDG_RUNTIME_DIR/tovami.lock. Either is
// released by the system when the process ends, however it ends.
#pragma once

namespace tovami::linux_backend {

class SingleInstance {
 public:
  SingleInstance() = default;
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // False when another instance holds the name or the lock. When neither can be checked, the
  // start goes on (and the log says why).
  bool claim();

  static constexpr const char* kBusName = "app.tovami.Tovami";

 private:
  bool lockFile();
  int lockFd_ = -1;
};

}  // namespace tovami::linux_backend
