// Short system sounds, named as the macOS system sounds are ("Glass", "Ping", "Purr");
// a backend maps each name to its own sound theme.
#pragma once

#include <string_view>

namespace tovami {

class SoundPlayer {
 public:
  virtual ~SoundPlayer() = default;
  // Plays once without waiting. Returns false when the sound does not exist or cannot play.
  virtual bool play(std::string_view systemSoundName, double volume) = 0;
};

}  // namespace tovami
