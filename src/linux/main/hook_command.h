// "tovami --hook EVENT": the agents' hook command. Reads the hook's standard input, hands it to the
// running Tovami and, for a permission request, prints the user's decision. Whatever goes wrong
// (Tovami not running, malformed input, no answer in time) it prints nothing and ends with 0 at
// once, so the agent's own prompt works as without Tovami. It writes to standard error only to say
// that the socket, or the server behind it, belongs to another user, or that the socket path it was
// given is not absolute (and it gave no verdict).
#pragma once

#include <optional>
#include <string>

namespace tovami::linux_backend {

// The exit status (always 0). `givenSocket`: the path of "--socket", when given (entries written
// before it existed have none: the client's environment names the socket then).
int runHookCommand(const std::string& eventName, const std::optional<std::string>& givenSocket);

}  // namespace tovami::linux_backend
