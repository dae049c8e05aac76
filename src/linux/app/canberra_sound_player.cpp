#include "linux/app/canberra_sound_player.h"

#include <canberra.h>

#include <cmath>
#include <cstdio>

namespace tovami::linux_backend {

CanberraSoundPlayer::~CanberraSoundPlayer() {
  if (context_) ca_context_destroy(context_);
}

std::string CanberraSoundPlayer::themeEventFor(std::string_view name) {
  if (name == "Glass") return "complete";
  if (name == "Ping") return "message-new-instant";
  if (name == "Purr") return "service-login";
  return {};
}

std::string CanberraSoundPlayer::volumeInDecibels(double volume) {
  if (volume <= 0) volume = 0.001;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.2f", 20.0 * std::log10(std::min(volume, 1.0)));
  return buffer;
}

bool CanberraSoundPlayer::play(std::string_view systemSoundName, double volume) {
  const std::string event = themeEventFor(systemSoundName);
  if (event.empty() || unavailable_) return false;
  if (!context_) {
    if (ca_context_create(&context_) != CA_SUCCESS) {
      context_ = nullptr;
      unavailable_ = true;
      return false;
    }
    ca_context_change_props(context_, CA_PROP_APPLICATION_NAME, "Tovami", CA_PROP_APPLICATION_ID,
                            "app.tovami.Tovami", nullptr);
  }
  const std::string decibels = volumeInDecibels(volume);
  return ca_context_play(context_, 0, CA_PROP_EVENT_ID, event.c_str(), CA_PROP_CANBERRA_VOLUME,
                         decibels.c_str(), CA_PROP_CANBERRA_CACHE_CONTROL, "volatile", nullptr) == CA_SUCCESS;
}

}  // namespace tovami::linux_backend
