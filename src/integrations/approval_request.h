// One permission notice from Claude Code, the main-thread state that holds the single pending
// one, and the socket protocol that turns bytes into a notice.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

#include "platform/local_socket.h"
#include "platform/scheduler.h"

namespace tovami {

class RandomSource;

struct ApprovalRequest {
  std::string id;  // a random UUID, fresh for each request
  std::string toolName;
  std::string detail;  // the first 160 user-perceived characters of the message
  std::string projectName;
  std::optional<std::string> cwd;
  Seconds receivedAt = 0;

  bool operator==(const ApprovalRequest& other) const { return id == other.id; }
};

inline constexpr std::size_t kApprovalDetailLength = 160;

// A "Notification" event whose message mentions permission becomes a request; any other object
// gives nothing.
std::optional<ApprovalRequest> approvalRequestFrom(const nlohmann::json& event, std::string id, Seconds now);

// A version-4 UUID in its usual text form.
std::string randomUUID(RandomSource& random);

// The first `count` user-perceived characters (grapheme clusters) of UTF-8 text.
std::string firstCharacters(std::string_view text, std::size_t count);

// The pending approval. Main thread only; observers run when the value changes.
class ApprovalState {
 public:
  const std::optional<ApprovalRequest>& pending() const { return pending_; }
  void setPending(std::optional<ApprovalRequest> request);

  int addObserver(std::function<void()> observer);
  void removeObserver(int token);

 private:
  std::optional<ApprovalRequest> pending_;
  std::map<int, std::function<void()>> observers_;
  int nextToken_ = 1;
};

// One socket connection: collects bytes until they parse as one JSON object, then hands the
// object on and ends. Bytes that never form an object are dropped once more than the cap is held.
class ApprovalConversation final : public StreamConversation {
 public:
  static constexpr std::size_t kMaxBufferedBytes = 65536;
  using ObjectHandler = std::function<void(const nlohmann::json& object)>;

  explicit ApprovalConversation(ObjectHandler handler) : handler_(std::move(handler)) {}
  bool received(std::string_view bytes) override;

 private:
  ObjectHandler handler_;
  std::string buffer_;
};

}  // namespace tovami
