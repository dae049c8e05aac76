#include "island/approval_card_guard.h"

namespace tovami {

void ApprovalCardGuard::shown(const std::optional<std::string>& requestId, Seconds uptime) {
  if (requestId == front_) return;
  front_ = requestId;
  since_ = uptime;
}

std::optional<Seconds> ApprovalCardGuard::armsIn(Seconds uptime) const {
  if (!front_) return std::nullopt;
  const Seconds left = since_ + kSettleTime - uptime;
  if (left <= 0) return std::nullopt;
  return left;
}

std::optional<std::string> ApprovalCardGuard::answers(const IslandHit& hit, Seconds uptime) const {
  if (hit.target != IslandTarget::allow && hit.target != IslandTarget::deny &&
      hit.target != IslandTarget::always)
    return std::nullopt;
  if (!front_ || hit.requestId != *front_ || !armed(uptime)) return std::nullopt;
  return hit.requestId;
}

}  // namespace tovami
