// The one-shot switches: each starts only what it needs, does its one thing and returns the exit
// status. "--list-agents" starts no toolkit at all (no display, no bus needed); the renders draw
// with an off-screen Qt.
#pragma once

#include <string_view>
#include <vector>

#include "app/command_line.h"

namespace tovami::linux_backend {

int runOneShot(const OneShotRequest& request, int argc, char** argv);

// The switches this build does not offer.
std::vector<std::string_view> unavailableOneShots();

}  // namespace tovami::linux_backend
