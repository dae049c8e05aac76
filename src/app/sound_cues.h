// The three sound cues and the rules for when they play.
#pragma once

#include <functional>

namespace tovami {

class PreferenceStore;
class SoundPlayer;

enum class SoundCue : int { agentQuiet = 0, approvalAsked = 1, napEnded = 2 };

struct SoundCueInfo {
  const char* systemSoundName;
  double volume;
  bool skippedDuringNap;
};

SoundCueInfo soundCueInfo(SoundCue cue);

class SoundCues {
 public:
  // `napInProgress` answers whether a nap is running right now (asked at each cue).
  SoundCues(PreferenceStore& store, SoundPlayer& player, std::function<bool()> napInProgress);
  void playCue(SoundCue cue);
  void setNapInProgressQuery(std::function<bool()> query) { napInProgress_ = std::move(query); }

 private:
  PreferenceStore& store_;
  SoundPlayer& player_;
  std::function<bool()> napInProgress_;
};

}  // namespace tovami
