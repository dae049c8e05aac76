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

TEST(IslandLayout, SizesTheOutlineForEveryModeAndContent) {
  struct Case {
    const char* name;
    IslandScene scene;
    double collapsedWidth, expandedHeight;
  };
  IslandScene fiveWithUsage = withAgents(5, true);
  fiveWithUsage.showSnippets = false;
  fiveWithUsage.usage = UsageSnapshot{};
  IslandScene report = withAgents(3);
  report.wakeReport = NapReport{};
  IslandScene approval = withAgents(3);
  approval.approval = ApprovalRequest{};
  const Case cases[] = {
      {"one agent", withAgents(1), 392, 64 + 8 + 36},
      {"five, usage", fiveWithUsage, 392, 286},
      {"two with snippets", withAgents(2, true), 392, 64 + 8 + 64 + 8 + 64},
      {"report beats agents", report, 392, 88},
      {"approval", approval, 392, 150},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(island_layout::collapsedWidth(c.scene), c.collapsedWidth) << c.name;
    EXPECT_EQ(island_layout::expandedSize(c.scene), (Size{660, c.expandedHeight})) << c.name;
    const auto open = outlineGeometry(c.scene, IslandPhase::expanded);
    EXPECT_EQ(open.frame.height, c.scene.collapsedSize.height + 2 + c.expandedHeight) << c.name;
    EXPECT_EQ(open.frame.x, 20) << c.name;
  }
}

TEST(IslandLayout, PlacesAndRoundsTheOutlineByMode) {
  IslandScene scene{.hovering = true};
  const auto notch = outlineGeometry(scene, IslandPhase::collapsed);
  EXPECT_EQ(notch.frame, (Rect{216, 0, 268, 32}));
  EXPECT_NEAR(notch.scaledFrame().x + notch.scaledFrame().width / 2, 350, 1e-9);
  EXPECT_EQ(notch.scaledFrame().y, 0);
  const auto open = outlineGeometry(scene, IslandPhase::expanded);

  scene.mode = IslandMode::pill;
  scene.collapsedSize = {180, 29};
  scene.menuBarHeight = 37;
  const auto pill = outlineGeometry(scene, IslandPhase::collapsed);
  EXPECT_EQ(pill.frame, (Rect{260, 41, 180, 29}));
  EXPECT_EQ(pill.cornerRadius, 14.5);  // a capsule

  // A spring may carry the outline a little past its target.
  const auto past = mix(notch, open, 1.1);
  EXPECT_NEAR(past.frame.width, 660 + 0.1 * (660 - 268), 1e-9);
  EXPECT_NEAR(mix(notch, open, 0.5).topRadius, 12, 1e-9);
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
    if (band.y > 30 && band.maxY() < 90) {
      EXPECT_EQ(band, (Rect{38, band.y, 624, band.height}));
    }
  }
  EXPECT_EQ(covered, 124);
}

}  // namespace
}  // namespace tovami
