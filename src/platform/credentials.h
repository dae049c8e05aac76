// Where a stored login comes from: a keychain item on macOS, a file on Linux.
#pragma once

#include <optional>
#include <string>

namespace tovami {

class CredentialSource {
 public:
  virtual ~CredentialSource() = default;
  // The stored bytes, read afresh on each call; nothing when there are none or they cannot be
  // read. Callable from a background queue.
  virtual std::optional<std::string> read() = 0;
};

}  // namespace tovami
