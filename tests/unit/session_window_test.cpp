#include "integrations/session_window.h"

#include <gtest/gtest.h>

namespace tovami {
namespace {

TEST(SessionWindowTest, OneTerminalProcessWithSeveralWindowsNamesTheSessionsOwnOrNone) {
  AgentSession session;
  session.projectName = "api";
  session.sessionName = "fix-login";
  const std::vector<TopLevelWindow> one{{1, 9, "bash"}};
  const std::vector<TopLevelWindow> named{{1, 9, "~/web"}, {2, 9, "fix-login — claude"}, {3, 9, "api"}};
  const std::vector<TopLevelWindow> byProject{{1, 9, "~/web"}, {2, 9, "~/api: claude"}};
  const std::vector<TopLevelWindow> ambiguous{{1, 9, "~/api"}, {2, 9, "~/api/docs"}};
  EXPECT_EQ(sessionWindowAmong(one, session), 1u);  // the only window: whatever its title
  EXPECT_EQ(sessionWindowAmong(named, session), 2u);
  EXPECT_EQ(sessionWindowAmong(byProject, session), 2u);
  EXPECT_EQ(sessionWindowAmong(ambiguous, session), std::nullopt);
  EXPECT_EQ(sessionWindowAmong({}, session), std::nullopt);
  session.projectName = "a";  // too short to tell windows apart
  session.sessionName.reset();
  EXPECT_EQ(sessionWindowAmong(byProject, session), std::nullopt);
}

}  // namespace
}  // namespace tovami
