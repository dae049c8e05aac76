// System sounds through libcanberra and the freedesktop sound theme.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "platform/sound.h"

struct ca_context;

namespace tovami::linux_backend {

// Where a sound could go: a sound card's playback device or a sound server's socket.
struct SoundOutputPlaces {
  std::string deviceFolder = "/dev/snd";
  std::string runtimeFolder;  // $XDG_RUNTIME_DIR, where PulseAudio and PipeWire put their sockets
  std::string pulseServer;    // $PULSE_SERVER: a server named by hand
  static SoundOutputPlaces ofThisSession();
};

class CanberraSoundPlayer final : public SoundPlayer {
 public:
  // `outputExists` tells whether any sound can play at all (by default: a card or a server here).
  explicit CanberraSoundPlayer(std::function<bool()> outputExists = {});
  ~CanberraSoundPlayer() override;
  bool play(std::string_view systemSoundName, double volume) override;

  // The theme event that stands in for a named system sound; empty when there is none.
  static std::string themeEventFor(std::string_view systemSoundName);
  // A linear volume (0..1] as libcanberra's decibels.
  static std::string volumeInDecibels(double volume);
  // Whether a playback device or a sound server exists in `places`.
  static bool soundOutputExists(const SoundOutputPlaces& places);

 private:
  bool outputAvailable();

  std::function<bool()> outputExists_;
  ca_context* context_ = nullptr;
  bool unavailable_ = false;  // libcanberra itself failed: never asked again
  bool silent_ = false;       // no card and no server when last looked
  std::chrono::steady_clock::time_point lookedAt_{};
};

}  // namespace tovami::linux_backend
