// One permission request from a coding agent, the main-thread queue of those waiting for the
// user, and the socket conversation that turns bytes into a request (docs/approval-protocol.md).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "approvals/approval_suggestions.h"
#include "platform/local_socket.h"
#include "platform/scheduler.h"

namespace tovami {

class RandomSource;

enum class ApprovalAgent { claudeCode, codex };

// How an answer reaches the agent: printed by the waiting hook client (the agent's own decision),
// or typed into its terminal as Return or Escape (versions that only send a notice).
enum class ApprovalRoad { decision, keystroke };

// "Always" allows and hands back, as updatedPermissions, the permission suggestions the user was
// shown in words (see approval_suggestions.h).
enum class ApprovalDecision { allow, deny, always };

struct ApprovalRequest {
  std::string id;        // a random UUID, fresh for each request
  std::string toolName;  // "Bash", "Edit", "mcp__…"; the agent's name for a notice without a tool
  // What is asked: the main argument (the Bash command, the file of an Edit or Write, the URL of a
  // fetch, the MCP tool's name), or the notice's message. Cleaned and cut (kApprovalDetailLength).
  std::string detail;
  std::string projectName;
  std::optional<std::string> cwd;
  Seconds receivedAt = 0;  // wall clock
  // Fields below were added with the decision road; aggregate initialisers above keep working.
  std::optional<std::string> sessionId;  // the hook's "session_id"
  ApprovalAgent agent = ApprovalAgent::claudeCode;
  std::optional<std::string> sessionName;  // the agent session's name, when the watcher knows it
  ApprovalRoad road = ApprovalRoad::keystroke;
  bool canAlwaysAllow = false;  // some of its permission suggestions could be put into words
  // Keystroke road only: false when the request could not be tied to exactly one running agent,
  // so the card offers no buttons and asks the user to answer in the terminal.
  bool answerable = true;
  std::optional<int32_t> agentPid;  // keystroke road: the agent the notice was mapped to
  // The suggestions Always hands back: exactly those described in `always`; empty when none.
  std::string permissionSuggestions;
  DescribedSuggestions always;  // what Always grants, in words
  // The user was looking at the asking agent's prompt: no cue, no island pop, no notification.
  bool quiet = false;

  bool operator==(const ApprovalRequest& other) const { return id == other.id; }
  std::string agentName() const;  // "Claude Code", "Codex"
};

inline constexpr std::size_t kApprovalDetailLength = 160;
// A card, a notification or a tray row takes answers only this long after it showed its request:
// a click aimed at what was there before never answers what replaced it.
inline constexpr Seconds kApprovalSettleTime = 0.5;
inline constexpr std::size_t kApprovalNameLength = 60;

// Text from an agent made safe to show on one line: control, line-separator and bidirectional
// characters become spaces, and text longer than `limit` user-perceived characters keeps its first
// `limit - 1` and gains "…" (so a cut is never hidden).
std::string approvalDisplayText(std::string_view text, std::size_t limit);

// A "Notification" event whose message mentions permission becomes a keystroke-road request; a
// "PermissionRequest" event a decision-road request of `agent`; any other object gives nothing.
std::optional<ApprovalRequest> approvalRequestFrom(const nlohmann::json& event, std::string id, Seconds now,
                                                   ApprovalAgent agent = ApprovalAgent::claudeCode);

// The main argument of a tool call, as shown on the card.
std::string mainArgumentOf(std::string_view toolName, const nlohmann::json& toolInput);

// A version-4 UUID in its usual text form.
std::string randomUUID(RandomSource& random);

// The first `count` user-perceived characters (grapheme clusters) of UTF-8 text.
std::string firstCharacters(std::string_view text, std::size_t count);

// Said on screen when an answer could not be delivered (the views show it beside the card).
struct ApprovalNotice {
  std::string text;
  Seconds at = 0;  // wall clock
  bool operator==(const ApprovalNotice&) const = default;
};

// The requests waiting for the user, in arrival order: one card each, the first one shown.
// Main thread only; observers run when the list or the notice changes.
class ApprovalState {
 public:
  const std::vector<ApprovalRequest>& requests() const { return requests_; }
  // The first waiting request (the card in front), if any.
  const std::optional<ApprovalRequest>& pending() const { return front_; }
  std::size_t count() const { return requests_.size(); }
  const ApprovalRequest* find(const std::string& id) const;

  void add(ApprovalRequest request);
  // Replaces the request with the same id; false when there is none.
  bool update(ApprovalRequest request);
  // False when no request has this id.
  bool remove(const std::string& id);
  void clear();

  const std::optional<ApprovalNotice>& notice() const { return notice_; }
  void setNotice(std::optional<ApprovalNotice> notice);

  // Kept for callers of the single-request days: empty clears every request, a value replaces
  // them all.
  void setPending(std::optional<ApprovalRequest> request);

  int addObserver(std::function<void()> observer);
  void removeObserver(int token);

 private:
  void changed();

  std::vector<ApprovalRequest> requests_;
  std::optional<ApprovalRequest> front_;
  std::optional<ApprovalNotice> notice_;
  std::map<int, std::function<void()>> observers_;
  int nextToken_ = 1;
};

// One socket connection: collects bytes until they parse as one JSON object and hands it on. The
// handler returns true when it will answer later through the reply; the connection then stays open
// until it does (or the peer leaves: `onPeerGone` of that request runs). Bytes that never form an
// object are dropped once more than the cap is held.
class ApprovalConversation final : public StreamConversation {
 public:
  static constexpr std::size_t kMaxBufferedBytes = 65536;
  using ObjectHandler = std::function<void(const nlohmann::json& object)>;
  struct Waiting {
    std::function<void()> onPeerGone;  // listener thread
  };
  using RequestHandler =
      std::function<std::optional<Waiting>(const nlohmann::json& object, std::shared_ptr<ConversationReply> reply)>;

  explicit ApprovalConversation(ObjectHandler handler);
  explicit ApprovalConversation(RequestHandler handler) : handler_(std::move(handler)) {}

  void opened(std::shared_ptr<ConversationReply> reply) override { reply_ = std::move(reply); }
  Next received(std::string_view bytes) override;
  void ended() override;

 private:
  RequestHandler handler_;
  std::shared_ptr<ConversationReply> reply_;
  std::function<void()> onPeerGone_;
  std::string buffer_;
};

}  // namespace tovami
