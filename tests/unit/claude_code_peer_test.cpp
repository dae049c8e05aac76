#include <gtest/gtest.h>

#include "agents/claude_project_folder.h"
#include "integrations/claude_code_peer.h"

namespace tovami {
namespace {

using namespace claude_code;

TEST(ClaudeCodePeer, FolderNameReplacesEveryCharacterOutsideLettersAndDigits) {
  EXPECT_EQ(projectFolderName("/home/u/my_app v2"), "-home-u-my-app-v2");
  EXPECT_EQ(projectFolderName("/srv/caf\u00e9/~x+y@z"), "-srv-caf---x-y-z");  // é: one UTF-16 unit
  EXPECT_EQ(projectFolderName("/a/\U0001F600"), "-a---");                     // emoji: two units
  EXPECT_EQ(projectFolderName("/a/\xff\xfe"), "-a---");                       // invalid bytes: one each
  EXPECT_EQ(projectFolderPrefix(std::string(250, 'a')), std::string(200, 'a') + "-");
  EXPECT_EQ(projectFolderPrefix(std::string(200, 'a')), std::nullopt);

  // The historical names come first; names that would reach outside the folder are never tried.
  EXPECT_EQ(claude_transcript::candidateFolderNames("/home/u/my_app"),
            (std::vector<std::string>{"-home-u-my_app", "-home-u-my-app"}));
  EXPECT_EQ(claude_transcript::candidateFolderNames("."), (std::vector<std::string>{"-"}));
}

TEST(ClaudeCodePeer, LocationsWithoutAHome) {
  ClaudeCodeLocations nowhere("", std::nullopt);
  EXPECT_FALSE(nowhere.isKnown());
  EXPECT_TRUE(nowhere.projectsFolder().empty());
  EXPECT_TRUE(nowhere.credentialsPath().empty());
  EXPECT_EQ(ClaudeCodeLocations("", std::string("/data/claude")).sessionStatusPath(42),
            "/data/claude/sessions/42.json");
}

}  // namespace
}  // namespace tovami
