// What the program answers without any toolkit: "--help", "--version", a one-shot switch without
// its value and "--list-agents" (one scan from /proc and files; no display, no bus needed).
// Everything else is the desktop program's, a separate executable that links Qt.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"

namespace tovami::linux_backend {

// The exit status, or nothing when the request belongs to the desktop program.
std::optional<int> answerWithoutToolkit(const LaunchRequest& request);

// The switches this build does not offer.
std::vector<std::string_view> unavailableOneShots();

// Where the desktop program is: beside this executable (a build tree), else where it is installed.
std::string desktopProgramPath(const std::string& selfPath);

}  // namespace tovami::linux_backend
