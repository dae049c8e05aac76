#include "app/sound_cues.h"

#include "app/preference_keys.h"
#include "platform/preferences_store.h"
#include "platform/sound.h"

namespace tovami {

SoundCueInfo soundCueInfo(SoundCue cue) {
  switch (cue) {
    case SoundCue::agentQuiet:
      return {"Glass", 0.35, true};
    case SoundCue::approvalAsked:
      return {"Ping", 0.40, true};
    case SoundCue::napEnded:
      return {"Purr", 0.45, false};
  }
  return {"Glass", 0.35, true};
}

SoundCues::SoundCues(PreferenceStore& store, SoundPlayer& player, std::function<bool()> napInProgress)
    : store_(store), player_(player), napInProgress_(std::move(napInProgress)) {}

void SoundCues::playCue(SoundCue cue) {
  if (!store_.boolValue(prefs::kAgentQuietSound)) return;
  auto info = soundCueInfo(cue);
  if (info.skippedDuringNap && napInProgress_ && napInProgress_()) return;
  player_.play(info.systemSoundName, info.volume);  // a sound that cannot play is skipped silently
}

}  // namespace tovami
