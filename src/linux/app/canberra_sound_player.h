// System sounds through libcanberra and the freedesktop sound theme.
#pragma once

#include <string>

#include "platform/sound.h"

struct ca_context;

namespace tovami::linux_backend {

class CanberraSoundPlayer final : public SoundPlayer {
 public:
  CanberraSoundPlayer() = default;
  ~CanberraSoundPlayer() override;
  bool play(std::string_view systemSoundName, double volume) override;

  // The theme event that stands in for a named system sound; empty when there is none.
  static std::string themeEventFor(std::string_view systemSoundName);
  // A linear volume (0..1] as libcanberra's decibels.
  static std::string volumeInDecibels(double volume);

 private:
  ca_context* context_ = nullptr;
  bool unavailable_ = false;
};

}  // namespace tovami::linux_backend
