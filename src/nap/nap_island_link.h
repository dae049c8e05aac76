// What the nap controller tells the island: a nap began or ended (with its report), and when a
// scheduled nap will begin.
#pragma once

#include <optional>

#include "nap/nap_report.h"
#include "platform/scheduler.h"

namespace tovami {

class NapIslandLink {
 public:
  virtual ~NapIslandLink() = default;
  virtual void setNapping(bool napping, std::optional<NapReport> report) = 0;
  // Wall-clock time at which a scheduled nap begins; absent when none is scheduled.
  virtual void setNapTimerDeadline(std::optional<Seconds> deadline) = 0;
};

// Stands in for the island where there is none: writes each change to the log.
class LoggingNapIslandLink final : public NapIslandLink {
 public:
  void setNapping(bool napping, std::optional<NapReport> report) override;
  void setNapTimerDeadline(std::optional<Seconds> deadline) override;

 private:
  std::optional<Seconds> deadline_;
};

}  // namespace tovami
