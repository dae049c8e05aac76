#include <gtest/gtest.h>

#include "agents/claude_project_folder.h"
#include "integrations/claude_code_peer.h"

namespace tovami {
namespace {

using namespace claude_code;

TEST(ClaudeCodePeer, FolderNameReplacesEveryCharacterOutsideLettersAndDigits) {
  EXPECT_EQ(projectFolderName("/home/u/my_app v2"), "-home-u-my-app-v2");
  EXPECT_EQ(projectFolderName("/Users/u/my.app"), "-Users-u-my-app");
  EXPECT_EQ(projectFolderName("/srv/caf\u00e9/~x+y@z"), "-srv-caf---x-y-z");  // é: one UTF-16 unit
  EXPECT_EQ(projectFolderName("/a/\U0001F600"), "-a---");                     // emoji: two units
  EXPECT_EQ(projectFolderName("/a/\xff\xfe"), "-a---");                       // invalid bytes: one each
  EXPECT_EQ(projectFolderName(""), "");

  std::string longName(250, 'a');
  EXPECT_EQ(projectFolderPrefix(longName), std::string(200, 'a') + "-");
  EXPECT_EQ(projectFolderPrefix(std::string(200, 'a')), std::nullopt);
}

TEST(ClaudeCodePeer, CandidatesKeepTheHistoricalOrderWithoutDuplicates) {
  using claude_transcript::candidateFolderNames;
  EXPECT_EQ(candidateFolderNames("/Users/u/my.app"),
            (std::vector<std::string>{"-Users-u-my.app", "-Users-u-my-app"}));
  EXPECT_EQ(candidateFolderNames("/home/u/my_app"),
            (std::vector<std::string>{"-home-u-my_app", "-home-u-my-app"}));
  EXPECT_EQ(candidateFolderNames("/work/api"), (std::vector<std::string>{"-work-api"}));
  // Names that would point at the projects folder itself are never tried.
  EXPECT_EQ(candidateFolderNames("."), (std::vector<std::string>{"-"}));
  EXPECT_EQ(candidateFolderNames(std::string("a\0b", 3)), (std::vector<std::string>{"a-b"}));
}

TEST(ClaudeCodePeer, LocationsFollowTheConfigRoot) {
  ClaudeCodeLocations standard("/home/u", std::nullopt);
  EXPECT_EQ(standard.configRoot(), "/home/u/.claude");
  EXPECT_EQ(standard.settingsPath(), "/home/u/.claude/settings.json");
  EXPECT_EQ(standard.projectsFolder(), "/home/u/.claude/projects");
  EXPECT_EQ(standard.sessionStatusPath(4242), "/home/u/.claude/sessions/4242.json");
  EXPECT_EQ(standard.credentialsPath(), "/home/u/.claude/.credentials.json");

  ClaudeCodeLocations moved("/home/u", std::string("/data/claude"));
  EXPECT_EQ(moved.settingsPath(), "/data/claude/settings.json");
  EXPECT_EQ(ClaudeCodeLocations("/home/u", std::string()).configRoot(), "/home/u/.claude");

  ClaudeCodeLocations nowhere("", std::nullopt);
  EXPECT_FALSE(nowhere.isKnown());
  EXPECT_TRUE(nowhere.projectsFolder().empty());
  EXPECT_TRUE(nowhere.credentialsPath().empty());
}

}  // namespace
}  // namespace tovami
