#include "nap/nap_island_link.h"

#include <cstdio>

#include "platform/log.h"

namespace tovami {

void LoggedNapIslandLink::setNapping(bool napping, std::optional<NapReport> report) {
  if (napping) {
    logInfo(log_categories::kNap, "nap began");
  } else if (report) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", report->duration);
    logInfo(log_categories::kNap,
            "nap ended: " + report->durationText() + ", " + report->pokesText() + " (" + seconds + " s)");
  } else {
    logInfo(log_categories::kNap, "nap ended without a report");
  }
  if (island_) island_->setNapping(napping, std::move(report));
}

void LoggedNapIslandLink::setNapTimerDeadline(std::optional<Seconds> deadline) {
  if (island_) island_->setNapTimerDeadline(deadline);
  if (deadline == deadline_) return;
  deadline_ = deadline;
  if (deadline) {
    char text[64];
    std::snprintf(text, sizeof text, "nap scheduled for %.0f", *deadline);
    logInfo(log_categories::kNap, text);
  } else {
    logInfo(log_categories::kNap, "scheduled nap cleared");
  }
}

}  // namespace tovami
