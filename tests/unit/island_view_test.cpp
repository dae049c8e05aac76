#include <gtest/gtest.h>

#include <string>

#include "island/approval_card_guard.h"
#include "island/notch_island_view.h"
#include "pixel_art/palette.h"
#include "platform/built_in_font.h"
#include "support/recording_canvas.h"
#include "support/virtual_dispatcher.h"

namespace tovami {
namespace {

using testing::RecordingCanvas;
using testing::VirtualDispatcher;

AgentSession agent(int32_t pid, std::string name, AgentActivity activity = AgentActivity::quiet) {
  return {.pid = pid,
          .agentName = std::move(name),
          .projectName = "project" + std::to_string(pid),
          .activity = activity};
}

class IslandView : public ::testing::Test {
 protected:
  RecordingCanvas draw(const IslandScene& scene) {
    RecordingCanvas canvas;
    view.draw(canvas, scene, outlineGeometry(scene, scene.phase),
              scene.phase == IslandPhase::expanded ? 1 : 0);
    return canvas;
  }
  static IslandScene expanded(std::vector<AgentSession> sessions) {
    return {.phase = IslandPhase::expanded, .sessions = std::move(sessions)};
  }
  static ApprovalRequest request(std::string id, std::string tool, std::string detail) {
    return {.id = std::move(id),
            .toolName = std::move(tool),
            .detail = std::move(detail),
            .projectName = "api",
            .road = ApprovalRoad::decision};
  }
  // What a click on the text `label`, as drawn in `scene`, hits.
  IslandHit hitOn(const IslandScene& scene, const char* label) {
    const auto canvas = draw(scene);
    const auto* run = canvas.run(label);
    EXPECT_TRUE(run) << label << " not drawn";
    if (!run) return {};
    return view.hitTest(scene, outlineGeometry(scene, scene.phase), {run->topLeft.x + 2, run->topLeft.y + 2});
  }
  static int rowsDrawn(const RecordingCanvas& canvas) {
    int count = 0;
    for (const auto& run : canvas.runs) count += run.text.starts_with("project");
    return count;
  }

  VirtualDispatcher dispatcher;
  NotchIslandView view{dispatcher.mainQueue(), nullptr, [] {}};
};

TEST_F(IslandView, TagsAgentsAndCapsTheList) {
  auto canvas = draw(expanded({agent(1, "Claude Code"), agent(2, "Codex")}));
  for (const char* text : {"Claude", "Codex", "Ctrl+Alt+N"}) EXPECT_NE(canvas.run(text), nullptr) << text;
  EXPECT_EQ(canvas.run("Claude Code"), nullptr);
  std::vector<AgentSession> many;
  for (int i = 0; i < 50; ++i) many.push_back(agent(100 + i, "Codex"));
  canvas = draw(expanded(many));
  EXPECT_EQ(rowsDrawn(canvas), 4);
  EXPECT_NE(canvas.run("46 more"), nullptr);
}

TEST_F(IslandView, ShowsTheRightCardAndWingsForWhatIsGoingOn) {
  IslandScene off = expanded({agent(1, "Codex", AgentActivity::working)});
  off.agentWatch = false;
  auto canvas = draw(off);
  EXPECT_NE(canvas.run(island_text::kNoAgents), nullptr);
  EXPECT_EQ(canvas.run("Working"), nullptr);  // no left wing
  EXPECT_EQ(rowsDrawn(canvas), 0);

  // A wake report takes the card's place (the card alone is the card test's).
  IslandScene both = expanded({agent(1, "Codex")});
  both.approval = request("id", "Bash", "rm -rf build");
  both.approvalCount = 1;
  both.wakeReport = NapReport{600, 3};
  canvas = draw(both);
  // "needs you": the first row still says so.
  for (const char* text : {"Napped 10 min", "3 pokes ignored", "needs you"})
    EXPECT_NE(canvas.run(text), nullptr) << text;
  EXPECT_EQ(canvas.run("Allow"), nullptr);

  EXPECT_NE(draw({.napTimerDeadline = 899.5}).run("15:00"), nullptr);  // the scene's clock at 0
  EXPECT_EQ(island_text::countdown(-3), "0:00");
  EXPECT_EQ(island_text::countdown(1e300), "100000000:00");
}

// The collapsed island's only text, the label, is drawn from the outlines built into the program,
// whatever it says: a word or a count outside them would bring the whole font stack in.
TEST_F(IslandView, TheCollapsedLabelNeedsNoFontStack) {
  for (const auto activity : {AgentActivity::quiet, AgentActivity::working})
    for (const size_t count : {1, 10, 1234567}) {
      IslandScene scene{.sessions =
                            std::vector<AgentSession>(count > 10 ? 12 : count, agent(1, "Codex", activity))};
      if (count > 10) {
        scene.approval = request("id", "Bash", "make");
        scene.approvalCount = count;
      }
      const auto canvas = draw(scene);
      ASSERT_EQ(canvas.runs.size(), 2u);
      for (const auto& run : canvas.runs) {
        EXPECT_TRUE(run.font.builtIn) << run.text;
        EXPECT_TRUE(built_in_font::covers(run.text)) << run.text;
      }
    }
}

TEST_F(IslandView, CutsLongTextsAndKeepsEveryControlInsideTheCard) {
  std::string huge;
  for (int i = 0; i < 700; ++i) huge += "\u05e9\u05dc\u05d5\u05dd e\u0301 \U0001F469\u200D\U0001F4BB ";
  AgentSession session = agent(7, huge + "agent", AgentActivity::working);
  session.projectName = "project" + huge;
  session.context = ClaudeSessionInfo{"one\ntwo " + huge, huge, huge, huge, {}, {}};
  IslandScene scene = expanded({session});
  const auto geometry = outlineGeometry(scene, IslandPhase::expanded);
  auto fitsInside = [&](const RecordingCanvas& canvas) {
    for (const auto& run : canvas.runs) {
      EXPECT_LT(run.text.size(), 400u) << run.text.substr(0, 40);
      EXPECT_EQ(run.text.find('\n'), std::string::npos);
      EXPECT_LE(run.topLeft.x + canvas.measureText(run.text, run.font).width, geometry.frame.maxX() - 14)
          << run.text.substr(0, 40);
    }
  };
  fitsInside(draw(scene));
  scene.approval = request("id", huge, huge);
  scene.approval->sessionName = scene.approval->projectName = huge;
  scene.approval->canAlwaysAllow = true;
  scene.approvalCount = 3;
  scene.approvalNotice = ApprovalNotice{huge, 0};
  const auto canvas = draw(scene);
  fitsInside(canvas);
  // The buttons and the fixed parts of the title keep their place beside the long texts.
  for (const char* fixed : {"Allow", "Always", "Deny", "Claude", "1 of 3"})
    EXPECT_NE(canvas.run(fixed), nullptr) << fixed;
  const auto* deny = canvas.run("Deny");
  for (const auto& run : canvas.runs) {
    if (run.color == palette::kTerracotta && run.topLeft.y > deny->topLeft.y - 4 && run.text != "Deny") {
      EXPECT_LE(run.topLeft.x + canvas.measureText(run.text, run.font).width, deny->topLeft.x)
          << "notice overlaps";
    }
  }
}

TEST_F(IslandView, ApprovalCardSaysWhatIsAskedAndOffersTheRightAnswers) {
  struct Case {
    const char* name;
    ApprovalRequest asked;
    size_t waiting;
    std::vector<const char*> shown, absent;
  };
  ApprovalRequest always = request("a", "Bash", "npm test");
  always.canAlwaysAllow = true;
  always.sessionName = "refactor";
  ApprovalRequest codex = request("c", "Bash", "cargo build");
  codex.agent = ApprovalAgent::codex;
  ApprovalRequest notice{"n", "Claude Code", "Claude needs your permission to use Bash", "api", {}, 0};
  notice.answerable = false;
  const Case cases[] = {
      {"plain",
       request("p", "Edit", "/src/main.cpp"),
       1,
       {"Edit", "/src/main.cpp", "api", "Claude", "Deny", "Allow", "needs you"},
       {"Always", "1 of", island_text::kAnswerInTerminal}},
      {"always", always, 2, {"npm test", " \u00b7 refactor", "Always", "1 of 2"}, {}},
      {"codex", codex, 1, {"Codex", "cargo build"}, {"Claude"}},
      {"unmapped notice",
       notice,
       1,
       {"Claude needs your permission", island_text::kAnswerInTerminal},
       {"Allow", "Deny", "Claude Code"}},
  };
  for (const auto& c : cases) {
    IslandScene scene = expanded({agent(1, "Codex")});
    scene.approval = c.asked;
    scene.approvalCount = c.waiting;
    const auto canvas = draw(scene);
    for (const char* text : c.shown) EXPECT_NE(canvas.run(text), nullptr) << c.name << ": " << text;
    for (const char* text : c.absent) EXPECT_EQ(canvas.run(text), nullptr) << c.name << ": " << text;
    // The wing's figure counts the requests waiting, not the sessions.
    IslandScene collapsed = scene;
    collapsed.phase = IslandPhase::collapsed;
    collapsed.sessions.clear();
    EXPECT_NE(draw(collapsed).run(std::to_string(c.waiting)), nullptr) << c.name;
  }
  // With the card gone, a notice of an answer not delivered still has its card.
  IslandScene undelivered = expanded({});
  undelivered.approvalNotice = ApprovalNotice{"Answer not delivered: the session has ended", 0};
  EXPECT_NE(draw(undelivered).run("Answer not delivered"), nullptr);
}

TEST_F(IslandView, AClickAnswersTheCardItWasMadeOnOnceItCouldBeRead) {
  IslandScene scene = expanded({});
  scene.approval = request("first", "Bash", "ls");
  scene.approval->canAlwaysAllow = true;
  scene.approvalCount = 2;
  for (const auto& [label, target] : {std::pair{"Always", IslandTarget::always},
                                      {"Deny", IslandTarget::deny},
                                      {"Allow", IslandTarget::allow}})
    EXPECT_EQ(hitOn(scene, label), (IslandHit{target, std::nullopt, "first"})) << label;

  ApprovalCardGuard guard;
  const IslandHit allowFirst = hitOn(scene, "Allow");
  using Card = std::optional<std::string>;
  const std::tuple<const char*, Card, Seconds, Card> steps[] = {
      // step, card in front, time, the card the click answers
      {"just shown", "first", 10, std::nullopt},
      {"still settling", "first", 10.4, std::nullopt},
      {"read", "first", 10.6, "first"},
      {"drawn again, same card", "first", 20, "first"},
      {"no card", std::nullopt, 31, std::nullopt},
  };
  for (const auto& [name, front, at, answered] : steps) {
    guard.shown(front, at);
    EXPECT_EQ(guard.answers(allowFirst, at), answered) << name;
  }
}

TEST_F(IslandView, HitTestsTheControlsItDrew) {
  IslandScene scene = expanded({agent(41, "Codex"), agent(42, "Codex")});
  EXPECT_EQ(hitOn(scene, "Nap now").target, IslandTarget::napNow);
  EXPECT_EQ(hitOn(scene, "15m").target, IslandTarget::napIn15Minutes);
  EXPECT_EQ(hitOn(scene, "nap when idle").target, IslandTarget::napWhenIdle);
  EXPECT_EQ(hitOn(scene, "project42"), (IslandHit{IslandTarget::agentRow, 42}));
  const auto geometry = outlineGeometry(scene, IslandPhase::expanded);
  EXPECT_EQ(view.hitTest(scene, geometry, {350, 10}).target, IslandTarget::outline);
  EXPECT_EQ(view.hitTest(scene, geometry, {5, 10}).target, IslandTarget::none);
  scene.phase = IslandPhase::collapsed;
  EXPECT_EQ(view.hitTest(scene, outlineGeometry(scene, scene.phase), {350, 10}).target,
            IslandTarget::outline);
}

TEST_F(IslandView, RedrawsOnlyWhileSomethingMoves) {
  const IslandScene still{.reduceMotion = true};
  const IslandScene countdown{.napTimerDeadline = 100.25};
  IslandScene working = expanded({agent(1, "Codex", AgentActivity::working)});
  working.showsCat = false;
  const IslandScene needsYou{.approval = ApprovalRequest{}, .approvalCount = 1};
  const std::tuple<const char*, IslandScene, std::optional<Seconds>> cases[] = {
      {"still", still, std::nullopt},
      {"asleep", IslandScene{}, 1.2},
      {"countdown", countdown, 0.25},
      {"indicator", working, 0.4},
      {"blink only", needsYou, std::nullopt}};  // scene, the next redraw
  for (const auto& [name, scene, next] : cases) {
    draw(scene);
    EXPECT_NEAR(view.nextRedrawIn(scene).value_or(-1e9), next.value_or(-1e9), 1e-6) << name;
  }

  // The sleeping cat breathes a while, then lies still.
  IslandScene asleep{.animationTime = 1000.5};
  draw(asleep);
  asleep.animationTime += CollapsedCatBadge::kBreathingFor;
  EXPECT_EQ(view.nextRedrawIn(asleep), std::nullopt);
  draw(asleep);
  const CollapsedCatBadge& cat = view.badge();
  EXPECT_EQ(&cat.catRows(asleep.animationTime), &cat.catRows(asleep.animationTime + 0.6));
  // Shown again (after a nap), it breathes again.
  view.disappear();
  draw(asleep);
  EXPECT_NE(&cat.catRows(asleep.animationTime), &cat.catRows(asleep.animationTime + 1.2));
}

}  // namespace
}  // namespace tovami
