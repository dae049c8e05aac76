// The hook client's side of the approval socket: connect, send one request, and read the reply
// within a bound. Every failure (no socket, nobody listening, a refused or broken connection, the
// bound passing) is the same answer: nothing. A socket that is not the user's own is never spoken
// to: a verdict from another user's server would decide for this user's agent.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tovami::linux_backend {

// The bytes the server wrote before it ended the stream (keep-alive line feeds included); nothing on
// failure, when the bound passed first, or when the server wrote nothing for `silenceSeconds` (it
// sends a keep-alive every 15 s while it lives). With `waitSeconds` 0 the request is sent and the
// connection closed at once (an empty string then means "sent").
// `refusal` says why in words when the socket file or its server belongs to another user.
std::optional<std::string> exchangeWithSocket(const std::string& path, std::string_view request,
                                              double waitSeconds, std::string* refusal = nullptr,
                                              double silenceSeconds = 45);

// Hands `message` to the server at `path` without ever waiting: a connection the backlog refuses,
// a socket not this user's, or a message the socket buffer cannot take whole at once is dropped.
// True when it was sent.
bool sendWithoutWaiting(const std::string& path, std::string_view message);

// Standard input up to `limit` bytes, read within `waitSeconds`; nothing when it is longer, unreadable
// or not finished in time.
std::optional<std::string> readInputWithin(int fd, std::size_t limit, double waitSeconds);

}  // namespace tovami::linux_backend
