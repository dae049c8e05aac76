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

// One accepted connection as its owner sees it. Called on the listener's thread only.
class StreamConversation {
 public:
  virtual ~StreamConversation() = default;
  // The next piece of bytes (never empty, at most `pieceSize`). Return true once the
  // conversation is over: the listener then ends the stream without writing a byte and closes.
  virtual bool received(std::string_view bytes) = 0;
};

struct LocalListenerOptions {
  size_t pieceSize = 65536;
  // Connections open at once; one more is closed unread as soon as it is accepted.
  size_t maxConnections = 32;
  // A connection still open this long after it was accepted is closed.
  Seconds connectionLifetime = 60;
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
  // never one a live server answers on), binds with owner-only permissions and starts listening.
  virtual ListenOutcome listen(const std::string& path, const LocalListenerOptions& options,
                               ConversationFactory newConversation) = 0;
};

}  // namespace tovami
