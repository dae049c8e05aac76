// What a waiting request says outside the island, so that approvals never depend on it: the first
// rows of the tray menu and the desktop notification. Each answer names the request it was made
// for; the server ignores one that no longer waits.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "approvals/approval_request.h"
#include "platform/notifications.h"

namespace tovami {

// "Bash npm test"; a notice's message as it came (a notice names no tool).
std::string approvalSubject(const ApprovalRequest& request);

struct ApprovalMenuRow {
  std::string label;
  std::string requestId;                     // empty for an information row
  std::optional<ApprovalDecision> decision;  // nothing: shown disabled
  bool operator==(const ApprovalMenuRow&) const = default;
};

inline constexpr std::size_t kApprovalMenuSubjectLength = 60;

// "Allow: api — Bash npm test…", what Always grants ("Always allow `Bash(make)` in this project"), "Deny" for the request in front; "answer in the
// terminal" for one that cannot be answered from here; how many more wait; the notice of an answer
// not delivered. Empty when nothing waits.
std::vector<ApprovalMenuRow> approvalMenuRows(const ApprovalState& state);

struct NotificationOffer {
  bool actions = false;  // the server shows buttons
  bool markup = false;   // the server reads the body as markup
};
NotificationOffer notificationOffer(const std::vector<std::string>& capabilities);

// The notification for the request in front (with `waiting` requests in all): Allow, Always and
// Deny as actions where the server offers them, else a pointer to the tray menu.
DesktopNotification approvalNotification(const ApprovalRequest& request, std::size_t waiting,
                                         NotificationOffer offer);
DesktopNotification approvalNoticeNotification(const ApprovalNotice& notice, NotificationOffer offer);

// An action key of approvalNotification() back as the request and the decision; nothing for any
// other key.
std::optional<std::pair<std::string, ApprovalDecision>> approvalActionFromKey(std::string_view key);

}  // namespace tovami
