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
    if (!available) return false;
    played.emplace_back(std::string(name), volume);
    return true;
  }
};

TEST(SoundCues, PlayTheNamedSoundAtItsVolume) {
  testing::MemoryPreferences prefs;
  prefs.setBool(prefs::kAgentQuietSound, true);
  RecordingPlayer player;
  SoundCues cues(prefs, player, [] { return false; });
  cues.playCue(SoundCue::agentQuiet);
  cues.playCue(SoundCue::approvalAsked);
  cues.playCue(SoundCue::napEnded);
  EXPECT_EQ(player.played, (decltype(player.played){{"Glass", 0.35}, {"Ping", 0.40}, {"Purr", 0.45}}));
}

TEST(SoundCues, DuringANapOnlyTheNapEndedCuePlays) {
  testing::MemoryPreferences prefs;
  prefs.setBool(prefs::kAgentQuietSound, true);
  RecordingPlayer player;
  bool napping = true;
  SoundCues cues(prefs, player, [&] { return napping; });
  cues.playCue(SoundCue::agentQuiet);
  cues.playCue(SoundCue::approvalAsked);
  cues.playCue(SoundCue::napEnded);
  ASSERT_EQ(player.played.size(), 1u);
  EXPECT_EQ(player.played[0].first, "Purr");
}

TEST(SoundCues, SwitchOffOrAbsentSilencesEveryCue) {
  testing::MemoryPreferences prefs;  // never stored reads as off
  RecordingPlayer player;
  SoundCues cues(prefs, player, [] { return false; });
  cues.playCue(SoundCue::napEnded);
  prefs.setBool(prefs::kAgentQuietSound, false);
  cues.playCue(SoundCue::agentQuiet);
  EXPECT_TRUE(player.played.empty());
}

TEST(SoundCues, ASoundThatCannotPlayIsSkippedSilently) {
  testing::MemoryPreferences prefs;
  prefs.setBool(prefs::kAgentQuietSound, true);
  RecordingPlayer player;
  player.available = false;
  SoundCues cues(prefs, player, nullptr);
  cues.playCue(SoundCue::agentQuiet);  // no nap query installed: treated as no nap
  EXPECT_TRUE(player.played.empty());
}

}  // namespace
}  // namespace tovami
