// "tovami --hook EVENT": the agents' hook command. Reads the hook's standard input, hands it to the
// running Tovami and, for a permission request, prints the user's decision. Whatever goes wrong
// (Tovami not running, malformed input, no answer in time) it prints nothing and ends with 0 at
// once, so the agent's own prompt works as without Tovami. It writes to standard error only to say
// that the socket, or the server behind it, belongs to another user (and it gave no verdict).
#pragma once

#include <string>

namespace tovami::linux_backend {

// The exit status (always 0).
int runHookCommand(const std::string& eventName);

}  // namespace tovami::linux_backend
