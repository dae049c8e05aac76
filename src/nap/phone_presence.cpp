#include "nap/phone_presence.h"

namespace tovami {

void PhonePresence::setEnabled(bool enabled) {
  enabled_ = enabled;
  apply();
}

void PhonePresence::setNapping(bool napping) {
  napping_ = napping;
  apply();
}

void PhonePresence::setLocked(bool locked) {
  locked_ = locked;
  apply();
}

void PhonePresence::apply() {
  const bool wanted = present();
  if (applied_ == wanted) return;
  applied_ = wanted;
  if (marker_) marker_->setPresent(wanted);
}

void PresenceNapLink::setNapping(bool napping, std::optional<NapReport> report) {
  if (presence_) presence_->setNapping(napping);
  if (island_) island_->setNapping(napping, std::move(report));
}

void PresenceNapLink::setNapTimerDeadline(std::optional<Seconds> deadline) {
  if (island_) island_->setNapTimerDeadline(deadline);
}

}  // namespace tovami
