#include "linux/app/canberra_sound_player.h"

#include <canberra.h>
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "linux/files/shared_library.h"
#include "platform/log.h"

namespace tovami::linux_backend {
namespace {

// Without a card or a server every cue would cost libcanberra milliseconds and libasound eight
// error lines; a card or a server that appears later is noticed within this time.
constexpr auto kLookAgainAfter = std::chrono::minutes(1);

bool exists(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0;
}

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// ALSA names playback devices pcmC<card>D<device>p.
bool hasPlaybackDevice(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return false;
  bool found = false;
  while (const dirent* entry = ::readdir(dir)) {
    const size_t length = std::strlen(entry->d_name);
    if (std::strncmp(entry->d_name, "pcmC", 4) == 0 && length > 4 && entry->d_name[length - 1] == 'p') {
      found = true;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

// libcanberra (and the codecs and ALSA it brings) is loaded at the first cue that can play, not
// linked: many sessions never hear one, and every start would pay for it.
struct CanberraLibrary {
  decltype(&::ca_context_create) create = nullptr;
  decltype(&::ca_context_destroy) destroy = nullptr;
  decltype(&::ca_context_change_props) changeProps = nullptr;
  decltype(&::ca_context_play) play = nullptr;
};

// Null when libcanberra cannot be loaded; asked once.
const CanberraLibrary* canberraLibrary() {
  static const CanberraLibrary* loaded = []() -> const CanberraLibrary* {
    const SharedLibrary library("libcanberra.so.0");
    static CanberraLibrary canberra;
    const bool complete = library.resolve("ca_context_create", canberra.create) &&
                          library.resolve("ca_context_destroy", canberra.destroy) &&
                          library.resolve("ca_context_change_props", canberra.changeProps) &&
                          library.resolve("ca_context_play", canberra.play);
    if (!complete) {
      logError(log_categories::kApp, "sound: libcanberra (libcanberra.so.0) cannot be loaded; the cues stay silent");
      return nullptr;
    }
    return &canberra;
  }();
  return loaded;
}

}  // namespace

SoundOutputPlaces SoundOutputPlaces::ofThisSession() {
  SoundOutputPlaces places;
  places.runtimeFolder = environment("XDG_RUNTIME_DIR");
  places.pulseServer = environment("PULSE_SERVER");
  return places;
}

bool CanberraSoundPlayer::soundOutputExists(const SoundOutputPlaces& places) {
  if (!places.pulseServer.empty()) return true;
  if (!places.runtimeFolder.empty() &&
      (exists(places.runtimeFolder + "/pulse/native") || exists(places.runtimeFolder + "/pipewire-0")))
    return true;
  return hasPlaybackDevice(places.deviceFolder);
}

CanberraSoundPlayer::CanberraSoundPlayer(std::function<bool()> outputExists)
    : outputExists_(outputExists ? std::move(outputExists)
                                 : [] { return soundOutputExists(SoundOutputPlaces::ofThisSession()); }) {}

CanberraSoundPlayer::~CanberraSoundPlayer() {
  if (context_) canberraLibrary()->destroy(context_);
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

bool CanberraSoundPlayer::outputAvailable() {
  const auto now = std::chrono::steady_clock::now();
  if (lookedAt_ != std::chrono::steady_clock::time_point{} && now - lookedAt_ < kLookAgainAfter)
    return !silent_;
  lookedAt_ = now;
  const bool wasSilent = silent_;
  silent_ = !outputExists_();
  if (silent_ && !wasSilent)
    logInfo(log_categories::kApp, "sound: no sound card or sound server; the cues stay silent");
  else if (!silent_ && wasSilent)
    logInfo(log_categories::kApp, "sound: a sound output appeared; the cues play again");
  return !silent_;
}

bool CanberraSoundPlayer::play(std::string_view systemSoundName, double volume) {
  const std::string event = themeEventFor(systemSoundName);
  if (event.empty() || unavailable_ || !outputAvailable()) return false;
  if (!context_) {
    const CanberraLibrary* canberra = canberraLibrary();
    if (!canberra || canberra->create(&context_) != CA_SUCCESS) {
      context_ = nullptr;
      unavailable_ = true;
      return false;
    }
    canberra->changeProps(context_, CA_PROP_APPLICATION_NAME, "Tovami", CA_PROP_APPLICATION_ID,
                          "app.tovami.Tovami", nullptr);
  }
  const std::string decibels = volumeInDecibels(volume);
  return canberraLibrary()->play(context_, 0, CA_PROP_EVENT_ID, event.c_str(), CA_PROP_CANBERRA_VOLUME,
                                 decibels.c_str(), CA_PROP_CANBERRA_CACHE_CONTROL, "volatile",
                                 nullptr) == CA_SUCCESS;
}

}  // namespace tovami::linux_backend
