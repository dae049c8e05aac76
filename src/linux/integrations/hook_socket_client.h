// The hook client's side of the approval socket: connect, send one request, and read the reply
// within a bound. Every failure (no socket, nobody listening, a refused or broken connection, the
// bound passing) is the same answer: nothing.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tovami::linux_backend {

// The bytes the server wrote before it ended the stream; nothing on failure or when the bound
// passed first. With `waitSeconds` 0 the request is sent and the connection closed at once (an
// empty string then means "sent").
std::optional<std::string> exchangeWithSocket(const std::string& path, std::string_view request, double waitSeconds);

// Standard input up to `limit` bytes, read within `waitSeconds`; nothing when it is longer, unreadable
// or not finished in time.
std::optional<std::string> readInputWithin(int fd, std::size_t limit, double waitSeconds);

}  // namespace tovami::linux_backend
