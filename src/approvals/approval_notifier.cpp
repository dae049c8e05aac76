#include "approvals/approval_notifier.h"

#include <algorithm>

#include "platform/log.h"

namespace tovami {
namespace {
constexpr const char* kCategory = log_categories::kApprovals;
}

ApprovalNotifier::ApprovalNotifier(ApprovalNotifierDependencies deps) : deps_(std::move(deps)) {
  std::weak_ptr<bool> alive = alive_;
  deps_.notifications->setHandlers({[this, alive](DesktopNotifications::Id id, const std::string& key) {
                                      if (alive.lock()) invoked(id, key);
                                    },
                                    [this, alive](DesktopNotifications::Id id) {
                                      if (alive.lock()) closed(id);
                                    }});
  observer_ = deps_.state.addObserver([this] { refresh(); });
  refresh();
}

ApprovalNotifier::~ApprovalNotifier() {
  deps_.state.removeObserver(observer_);
  deps_.notifications->setHandlers({});
  for (Slot* slot : {&request_, &notice_})
    if (slot->id) deps_.notifications->close(slot->id);
}

void ApprovalNotifier::refresh() {
  const bool island = deps_.islandShowsApprovals && deps_.islandShowsApprovals();
  const auto& front = deps_.state.pending();
  const auto& notice = deps_.state.notice();
  if (island || (!front && !notice)) {
    want(request_, std::nullopt, {});
    want(notice_, std::nullopt, {});
    return;
  }
  if (!offer_) {
    // What the server offers decides the content; asked once, when first needed.
    if (askedOffer_) return;
    askedOffer_ = true;
    std::weak_ptr<bool> alive = alive_;
    deps_.notifications->capabilities([this, alive](std::optional<std::vector<std::string>> capabilities) {
      if (!alive.lock()) return;
      if (!capabilities) {
        // Asked again with the next change: a notification server may start later.
        logInfo(kCategory, "no notification server answered; approvals are in the tray menu");
        askedOffer_ = false;
        return;
      }
      offer_ = notificationOffer(*capabilities);
      refresh();
    });
    return;
  }
  // A request asked while the user looked at its agent stays in the tray and the island only; it
  // never hides one behind it that was not: the first of those gets the notification.
  const auto& requests = deps_.state.requests();
  const auto shown = std::find_if(requests.begin(), requests.end(), [](const auto& r) { return !r.quiet; });
  if (shown != requests.end())
    want(request_, approvalNotification(*shown, deps_.state.count(), *offer_), shown->id);
  else
    want(request_, std::nullopt, {});
  if (notice)
    want(notice_, approvalNoticeNotification(*notice, *offer_), {});
  else
    want(notice_, std::nullopt, {});
}

void ApprovalNotifier::want(Slot& slot, std::optional<DesktopNotification> wanted,
                            const std::string& requestId) {
  if (&slot == &request_) wantedRequestId_ = requestId;
  slot.wanted = std::move(wanted);
  pump(slot);
}

// One call to the server at a time per slot; what is wanted meanwhile is sent when it answers.
void ApprovalNotifier::pump(Slot& slot) {
  if (slot.inFlight || slot.wanted == slot.shown) return;
  if (!slot.wanted) {
    if (slot.id) deps_.notifications->close(slot.id);
    slot.id = 0;
    slot.shown.reset();
    slot.requestId.clear();
    return;
  }
  slot.inFlight = true;
  const DesktopNotification sent = *slot.wanted;
  const std::string requestId = &slot == &request_ ? wantedRequestId_ : std::string();
  std::weak_ptr<bool> alive = alive_;
  deps_.notifications->notify(
      sent, slot.id, [this, alive, &slot, sent, requestId](std::optional<DesktopNotifications::Id> id) {
        if (!alive.lock()) return;
        slot.inFlight = false;
        slot.shown = sent;  // a failure is not retried until the content changes
        slot.id = id.value_or(0);
        if (slot.requestId != requestId) slot.shownAt = deps_.clock.uptime();
        slot.requestId = requestId;
        pump(slot);
      });
}

void ApprovalNotifier::invoked(DesktopNotifications::Id id, const std::string& key) {
  if (!id || id != request_.id) return;
  const auto action = approvalActionFromKey(key);
  if (!action) return;
  // The key names the request its button was shown for: a click never answers one shown since.
  if (action->first != request_.requestId || deps_.clock.uptime() - request_.shownAt < kSettleTime) {
    logInfo(kCategory, "notification answer ignored: its request was not shown long enough");
    return;
  }
  if (deps_.answer) deps_.answer(action->first, action->second);
}

void ApprovalNotifier::closed(DesktopNotifications::Id id) {
  for (Slot* slot : {&request_, &notice_})
    if (id && slot->id == id) slot->id = 0;  // dismissed: not shown again for the same content
}

}  // namespace tovami
