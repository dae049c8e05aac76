// A local stream socket that listens at a file path (a unix-domain socket on Linux and macOS),
// for peers of the same user only. The listener runs its own thread: it accepts, reads and
// closes; what the bytes mean is decided by a Conversation that the owner supplies for each
// connection.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/scheduler.h"

namespace tovami {

// A connection's way to answer after the conversation asked to wait. Any thread.
class ConversationReply {
 public:
  virtual ~ConversationReply() = default;
  // Writes `bytes` (none: the empty reply), ends the stream and closes. Only the first call counts;
  // one after the connection ended does nothing.
  virtual void send(std::string bytes) = 0;
  // Writes one line feed and keeps the stream open: proof to a waiting peer that the server still
  // lives. Does nothing once the reply went or the connection ended, and where the peer is not local.
  virtual void keepAlive() {}
};

// One accepted connection as its owner sees it. Called on the listener's thread only.
class StreamConversation {
 public:
  enum class Next {
    more,        // keep reading
    close,       // over: end the stream without writing a byte and close
    awaitReply,  // stop reading; the connection stays open until the reply is sent
  };
  virtual ~StreamConversation() = default;
  // Once, before any bytes: the handle through which a waiting conversation answers.
  virtual void opened(std::shared_ptr<ConversationReply>) {}
  // The next piece of bytes (never empty, at most `pieceSize`).
  virtual Next received(std::string_view bytes) = 0;
  // A waiting conversation ended without its reply: the peer left, its bound passed, there was no
  // room for another waiting connection, or the listener stops.
  virtual void ended() {}
};

struct LocalListenerOptions {
  size_t pieceSize = 65536;
  // Connections being read at once; when one more arrives, the one accepted longest ago (a peer
  // that has not finished writing) is closed to make room.
  size_t maxConnections = 32;
  // A connection still being read this long after it was accepted is closed. Hooks write at once,
  // so this is short: silent peers must not hold the slots real notices need.
  Seconds connectionLifetime = 10;
  // Connections waiting for a reply are counted apart, with their own bound: a user may take
  // minutes to answer. One more is closed at once with the empty reply.
  size_t maxAwaiting = 128;
  Seconds awaitLifetime = 300;
};

// Stops accepting, closes every open connection and removes the socket file when destroyed. The
// destructor waits for a conversation call under way; it must not run on the listener's thread.
class LocalListener {
 public:
  virtual ~LocalListener() = default;
};

struct ListenOutcome {
  std::unique_ptr<LocalListener> listener;  // null on failure
  std::string error;                        // why, on failure
  bool servedByAnother = false;             // a live server of the same user holds the path
};

class LocalSocketService {
 public:
  using ConversationFactory = std::function<std::unique_ptr<StreamConversation>()>;
  virtual ~LocalSocketService() = default;
  // Creates the socket's folder (owner only), replaces a socket file left by a crashed run (but
  // never one a live server answers on, nor anything that is not a socket: that fails), binds with owner-only permissions and starts listening.
  virtual ListenOutcome listen(const std::string& path, const LocalListenerOptions& options,
                               ConversationFactory newConversation) = 0;
};

}  // namespace tovami
