// Tovami on Linux: naps and agent watch for people who run coding agents. This entry links no
// toolkit: it answers the switches that need none and starts the desktop program for the rest.
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "linux/main/entry.h"
#include "linux/main/status_line_wrapper.h"

int main(int argc, char** argv) {
  // Claude Code's status line, first and untouched by the other switches: the user's command it
  // wraps runs with the signal dispositions it would have had.
  if (argc >= 3 && std::strcmp(argv[1], "--hook") == 0 && std::strcmp(argv[2], "status-line") == 0)
    return tovami::linux_backend::runStatusLineWrapper(argc, argv);
  // A closed pipe on a listing is a failed write to report, not a reason to die.
  std::signal(SIGPIPE, SIG_IGN);
  const tovami::LaunchRequest request = tovami::parseCommandLine({argv, argv + argc});
  if (auto status = tovami::linux_backend::answerWithoutToolkit(request)) return *status;

  char self[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
  const std::string selfPath = length > 0 ? std::string(self, size_t(length)) : std::string();
  const std::string desktop = tovami::linux_backend::desktopProgramPath(selfPath);
  // The desktop program learns the public entry from argv[0] (for the login item).
  std::vector<char*> arguments(argv, argv + argc);
  if (!selfPath.empty()) arguments[0] = const_cast<char*>(selfPath.c_str());
  arguments.push_back(nullptr);
  ::execv(desktop.c_str(), arguments.data());
  if (errno == ENOENT)  // a server with the command alone (the tovami-cli package)
    std::fprintf(stderr,
                 "tovami: the desktop program is not installed here (%s; on Debian, the tovami package). "
                 "This command serves agent hooks, --list-agents and --remote-stream.\n",
                 desktop.c_str());
  else
    std::fprintf(stderr, "tovami: cannot start %s: %s\n", desktop.c_str(), std::strerror(errno));
  return 1;
}
