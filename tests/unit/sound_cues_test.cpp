#include "app/sound_cues.h"

#include <gtest/gtest.h>

#include "app/preference_keys.h"
#include "platform/sound.h"
#include "support/memory_preferences.h"

namespace tovami {
namespace {

struct RecordingPlayer : SoundPlayer {
  std::vector<std::pair<std::string, double>> played;
  bool available = true;
  bool play(std::string_view name, double volume) override {
    if (available) played.emplace_back(std::string(name), volume);
    return available;
  }
};

// Each cue plays its sound at its volume; during a nap only "nap ended" plays; the switch off (or
// never stored), a missing nap query or a sound that cannot play are all quiet, never an error.
TEST(SoundCues, PlayOnlyWhenSwitchedOnAndOnlyTheNapEndedCueDuringANap) {
  using Played = std::vector<std::pair<std::string, double>>;
  // The switch (none: never stored), napping, the player able to play, what plays.
  const std::tuple<std::optional<bool>, bool, bool, Played> cases[] = {
      {true, false, true, {{"Glass", 0.35}, {"Ping", 0.40}, {"Purr", 0.45}}},
      {true, true, true, {{"Purr", 0.45}}},
      {false, false, true, {}},
      {std::nullopt, false, true, {}},
      {true, false, false, {}},
  };
  for (const auto& [sounds, napping, available, expected] : cases) {
    testing::MemoryPreferences prefs;
    if (sounds) prefs.setBool(prefs::kAgentQuietSound, *sounds);
    RecordingPlayer player;
    player.available = available;
    SoundCues cues(prefs, player, napping ? std::function<bool()>([] { return true; }) : nullptr);
    for (auto cue : {SoundCue::agentQuiet, SoundCue::approvalAsked, SoundCue::napEnded}) cues.playCue(cue);
    EXPECT_EQ(player.played, expected) << napping << available;
  }
}

}  // namespace
}  // namespace tovami
