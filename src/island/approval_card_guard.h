// Which request a click on an approval button answers. A button answers the card it was drawn on,
// and only once that card has been in front long enough to be read: when the card in front is
// answered elsewhere or withdrawn and the next one takes its place, a click aimed at the first must
// not land on the second.
#pragma once

#include <optional>
#include <string>

#include "island/island_scene.h"
#include "platform/scheduler.h"

namespace tovami {

class ApprovalCardGuard {
 public:
  static constexpr Seconds kSettleTime = kApprovalSettleTime;

  // The card in front is now `requestId` (nothing: no card), as of `uptime`. The same card shown
  // again keeps its time.
  void shown(const std::optional<std::string>& requestId, Seconds uptime);
  bool armed(Seconds uptime) const { return !armsIn(uptime); }
  // How long until the card's buttons take clicks; nothing when they do, or when no card is up.
  std::optional<Seconds> armsIn(Seconds uptime) const;
  // The request a click on `hit` answers: the one its button was drawn for, while that card is
  // still in front and armed; nothing otherwise.
  std::optional<std::string> answers(const IslandHit& hit, Seconds uptime) const;

 private:
  std::optional<std::string> front_;
  Seconds since_ = 0;
};

}  // namespace tovami
