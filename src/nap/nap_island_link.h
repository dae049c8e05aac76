// What the nap controller tells the island: a nap began or ended (with its report), and when a
// scheduled nap will begin.
#pragma once

#include <memory>
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

// Writes each change to the log and passes it on to the island, where there is one.
class LoggedNapIslandLink final : public NapIslandLink {
 public:
  explicit LoggedNapIslandLink(std::shared_ptr<NapIslandLink> island) : island_(std::move(island)) {}
  void setNapping(bool napping, std::optional<NapReport> report) override;
  void setNapTimerDeadline(std::optional<Seconds> deadline) override;

 private:
  std::shared_ptr<NapIslandLink> island_;
  std::optional<Seconds> deadline_;
};

}  // namespace tovami
