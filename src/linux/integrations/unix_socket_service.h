// The local socket on POSIX systems (Linux and macOS alike): a unix-domain stream socket in an
// owner-only folder, peers checked by their credentials, one poll thread per listener.
#pragma once

#include <sys/types.h>

#include "platform/local_socket.h"

namespace tovami::linux_backend {

class UnixSocketService final : public LocalSocketService {
 public:
  // Peers must run as `peerUid` (by default the program's own effective user).
  UnixSocketService();
  explicit UnixSocketService(uid_t peerUid) : peerUid_(peerUid) {}

  ListenOutcome listen(const std::string& path, const LocalListenerOptions& options,
                       ConversationFactory newConversation) override;

 private:
  uid_t peerUid_;
};

}  // namespace tovami::linux_backend
