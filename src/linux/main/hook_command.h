// "tovami --hook EVENT": the agents' hook command. Reads the hook's standard input, hands it to the
// running Tovami and, for a permission request, prints the user's decision. Whatever goes wrong
// (Tovami not running, malformed input, no answer in time) it prints nothing and ends with 0 at
// once, so the agent's own prompt works as without Tovami; it never writes to standard error.
#pragma once

#include <string>

namespace tovami::linux_backend {

// The exit status (always 0).
int runHookCommand(const std::string& eventName);

}  // namespace tovami::linux_backend
