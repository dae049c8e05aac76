// Claude Code's Remote Control sends no phone push while the file named by
// CLAUDE_CLIENT_PRESENCE_FILE exists. With "phonePushWhileAway" on, Tovami keeps that file while
// the user is at the desk and removes it during a nap and while the screen is locked, so the phone
// rings exactly when the user stepped away.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "nap/nap_island_link.h"

namespace tovami {

inline constexpr const char* kPresenceVariable = "CLAUDE_CLIENT_PRESENCE_FILE";
// The presence file's name in Tovami's runtime folder; an "env" value ending in it is Tovami's.
inline constexpr const char* kPresenceFileName = "tovami-claude-presence";

// The file itself (the backend creates and removes it).
class PresenceMarker {
 public:
  virtual ~PresenceMarker() = default;
  virtual void setPresent(bool present) = 0;
};

// Main thread.
class PhonePresence {
 public:
  explicit PhonePresence(std::shared_ptr<PresenceMarker> marker) : marker_(std::move(marker)) {}

  void setEnabled(bool enabled);
  void setNapping(bool napping);
  void setLocked(bool locked);
  // The file exists: the switch is on and the user is at the desk.
  bool present() const { return enabled_ && !napping_ && !locked_; }

 private:
  void apply();

  std::shared_ptr<PresenceMarker> marker_;
  bool enabled_ = false, napping_ = false, locked_ = false;
  std::optional<bool> applied_;
};

// Passes the nap's changes on to the island and tells the presence whether a nap runs.
class PresenceNapLink final : public NapIslandLink {
 public:
  PresenceNapLink(std::shared_ptr<NapIslandLink> island, std::shared_ptr<PhonePresence> presence)
      : island_(std::move(island)), presence_(std::move(presence)) {}
  void setNapping(bool napping, std::optional<NapReport> report) override;
  void setNapTimerDeadline(std::optional<Seconds> deadline) override;

 private:
  std::shared_ptr<NapIslandLink> island_;
  std::shared_ptr<PhonePresence> presence_;
};

}  // namespace tovami
