// Window owners as running applications, on a private Xvfb: nothing without a window manager,
// the owner of a managed window with one (openbox).
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "linux/agents/x11_running_apps.h"

extern char** environ;

namespace tovami::linux_backend {
namespace {

// Starts a shell command with its output on the null device; it keeps our open descriptors.
pid_t spawnQuietly(const std::string& command) {
  const std::string script = "exec " + command + " >/dev/null 2>&1";
  const char* argv[] = {"/bin/sh", "-c", script.c_str(), nullptr};
  pid_t pid = -1;
  return ::posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ) == 0 ? pid : -1;
}

void stop(pid_t pid) {
  if (pid > 0 && ::kill(pid, SIGTERM) == 0) ::waitpid(pid, nullptr, 0);
}

template <typename Predicate>
bool waitFor(Predicate predicate, double seconds = 10) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!predicate() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return predicate();
}

TEST(X11RunningApplications, WindowOwnersAreApplicationsOnlyUnderAWindowManager) {
  if (::access("/usr/bin/Xvfb", X_OK) != 0 || ::access("/usr/bin/openbox", X_OK) != 0)
    GTEST_SKIP() << "Xvfb or openbox missing";
  int displayPipe[2];
  ASSERT_EQ(::pipe(displayPipe), 0);
  const pid_t xvfb = spawnQuietly("/usr/bin/Xvfb -displayfd " + std::to_string(displayPipe[1]) +
                                  " -screen 0 640x480x24 -nolisten tcp");
  ::close(displayPipe[1]);
  ASSERT_GT(xvfb, 0);
  char number[16] = {};
  pollfd ready{displayPipe[0], POLLIN, 0};
  ASSERT_GT(::poll(&ready, 1, 10000), 0);
  ASSERT_GT(::read(displayPipe[0], number, sizeof number - 1), 0);
  ::close(displayPipe[0]);
  const std::string display = ":" + std::to_string(std::atoi(number));

  // A window of our own, carrying our pid.
  xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
  ASSERT_FALSE(xcb_connection_has_error(c));
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  const xcb_window_t window = xcb_generate_id(c);
  xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 200, 100, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
  const uint32_t self = static_cast<uint32_t>(::getpid());
  auto* atom = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, 11, "_NET_WM_PID"), nullptr);
  ASSERT_TRUE(atom);
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atom->atom, XCB_ATOM_CARDINAL, 32, 1, &self);
  std::free(atom);
  xcb_map_window(c, window);
  xcb_flush(c);

  X11RunningApplications apps(display);
  EXPECT_FALSE(apps.isRegisteredApplication(::getpid()));  // no window manager: no client list
  EXPECT_EQ(apps.frontmostApplicationPID(), std::nullopt);

  const pid_t openbox = spawnQuietly("env DISPLAY=" + display + " /usr/bin/openbox");
  ASSERT_GT(openbox, 0);
  // openbox takes over already mapped windows when it starts.
  EXPECT_TRUE(waitFor([&] { return apps.isRegisteredApplication(::getpid()); }));
  EXPECT_FALSE(apps.isRegisteredApplication(openbox));
  xcb_set_input_focus(c, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
  xcb_flush(c);
  EXPECT_TRUE(waitFor([&] { return apps.frontmostApplicationPID() == ::getpid(); }));

  xcb_disconnect(c);
  stop(openbox);
  stop(xvfb);
  // The server gone: answers fall back to nothing, without hanging.
  EXPECT_TRUE(waitFor([&] { return !apps.isRegisteredApplication(::getpid()); }, 5));
}

}  // namespace
}  // namespace tovami::linux_backend
