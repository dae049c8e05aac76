#include <gtest/gtest.h>

#include "island/island_layout.h"

namespace tovami {
namespace {

AgentSession agent(int32_t pid, bool snippet = false) {
  AgentSession session{.pid = pid, .agentName = "Claude Code", .projectName = "api"};
  if (snippet) session.context = ClaudeSessionInfo{std::nullopt, "fix it", std::nullopt, {}, {}, {}};
  return session;
}

IslandScene withAgents(int count, bool snippets = false) {
  IslandScene scene;
  for (int i = 0; i < count; ++i) scene.sessions.push_back(agent(100 + i, snippets));
  return scene;
}

// Whatever it holds, the open outline stays in the panel, centred on the notch, and its content starts
// below the camera housing; the pill sits below the menu bar. (Exact sizes are the render tests'.)
TEST(IslandLayout, FitsThePanelAndKeepsClearOfTheNotchInEveryModeAndContent) {
  IslandScene busy = withAgents(5, true);
  busy.usage = UsageSnapshot{};
  busy.approval = ApprovalRequest{};
  IslandScene pill = withAgents(50);
  pill.mode = IslandMode::pill;
  pill.menuBarHeight = 37;
  for (const IslandScene& scene : {withAgents(1), busy, pill}) {
    const auto closed = outlineGeometry(scene, IslandPhase::collapsed).frame;
    const auto open = outlineGeometry(scene, IslandPhase::expanded).frame;
    for (const Rect& frame : {closed, open}) {
      EXPECT_TRUE(frame.x >= 0 && frame.maxX() <= island_layout::kPanelWidth) << frame.x << "+" << frame.width;
      EXPECT_NEAR(frame.x + frame.width / 2, island_layout::kPanelWidth / 2, 1e-9);
    }
    EXPECT_GE(closed.width, scene.collapsedSize.width);
    if (scene.mode == IslandMode::pill) {
      EXPECT_GE(closed.y, scene.menuBarHeight);
    }
    EXPECT_GE(open.height, scene.collapsedSize.height + island_layout::expandedSize(scene).height);
  }
  // A spring may carry the outline a little past its target.
  const auto notch = outlineGeometry(IslandScene{}, IslandPhase::collapsed);
  const auto open = outlineGeometry(IslandScene{}, IslandPhase::expanded);
  EXPECT_GT(mix(notch, open, 1.1).frame.width, open.frame.width);
}

TEST(IslandLayout, TakesThePointerOnTheOutlineOnly) {
  const auto open = outlineGeometry(IslandScene{}, IslandPhase::expanded);  // 20..680 wide, 124 high
  const std::pair<Point, bool> probes[] = {{{350, 60}, true},
                                           {{30, 1}, true},    // the shoulder flares out
                                           {{21, 12}, false},  // beside the shoulder
                                           {{37, 60}, false},
                                           {{350, 125}, false},
                                           {{39, 123}, false}};  // the rounded corner
  for (const auto& [point, inside] : probes)
    EXPECT_EQ(hitsOutline(open, point), inside) << point.x << "," << point.y;
  const auto region = outlineRegion(open);
  ASSERT_FALSE(region.empty());
  EXPECT_EQ(region.front().y, 0);
  EXPECT_EQ(region.front().width, 660);
  double covered = 0;
  for (const auto& band : region) {
    covered += band.height;
    EXPECT_GE(band.x, 20);
    EXPECT_LE(band.maxX(), 680);
  }
  EXPECT_EQ(covered, 124);
}

}  // namespace
}  // namespace tovami
