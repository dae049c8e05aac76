// Shows the first waiting request that was not asked quietly as a desktop notification while the
// island does not show it, so a request can be answered with the island off: replaced when that
// request changes, closed once it is answered or withdrawn; a notice of an answer not delivered
// gets a notification of its own. An action answers the request it was shown for, and only once
// that content has been up long enough to be read. Main thread.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "approvals/approval_presentation.h"
#include "approvals/approval_request.h"
#include "platform/notifications.h"
#include "platform/scheduler.h"

namespace tovami {

struct ApprovalNotifierDependencies {
  ApprovalState& state;
  std::shared_ptr<DesktopNotifications> notifications;
  Clock& clock;
  std::function<bool()> islandShowsApprovals;  // empty: never
  std::function<void(const std::string& requestId, ApprovalDecision decision)> answer;
};

class ApprovalNotifier {
 public:
  // An action chosen sooner than this after its content appeared is ignored.
  static constexpr Seconds kSettleTime = kApprovalSettleTime;

  explicit ApprovalNotifier(ApprovalNotifierDependencies deps);
  ~ApprovalNotifier();
  ApprovalNotifier(const ApprovalNotifier&) = delete;
  ApprovalNotifier& operator=(const ApprovalNotifier&) = delete;

  // Brings the notifications in line with the state and the island (call when the island's
  // switch changes; the state is followed by itself).
  void refresh();

 private:
  struct Slot {
    DesktopNotifications::Id id = 0;
    std::optional<DesktopNotification> shown;  // what was last sent (kept once dismissed)
    std::optional<DesktopNotification> wanted;
    std::string requestId;  // the request the shown content is for
    Seconds shownAt = 0;    // uptime
    bool inFlight = false;
  };
  void want(Slot& slot, std::optional<DesktopNotification> wanted, const std::string& requestId);
  void pump(Slot& slot);
  void invoked(DesktopNotifications::Id id, const std::string& key);
  void closed(DesktopNotifications::Id id);

  ApprovalNotifierDependencies deps_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  int observer_ = 0;
  std::optional<NotificationOffer> offer_;
  bool askedOffer_ = false;
  Slot request_, notice_;
  std::string wantedRequestId_;
};

}  // namespace tovami
