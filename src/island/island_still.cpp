#include "island/island_still.h"

#include "island/notch_island_view.h"

namespace tovami {
namespace {

AgentSession sampleSession(int32_t pid, std::string agent, std::string project, Seconds now,
                           Seconds updatedAgo, AgentActivity activity) {
  AgentSession session;
  session.pid = pid;
  session.agentName = std::move(agent);
  session.projectName = std::move(project);
  session.projectPath = "/home/sam/src/" + session.projectName;
  session.terminalName = "Terminal";
  session.startedAt = now - updatedAgo - 600;
  session.ageMinutes = static_cast<int64_t>(updatedAgo / 60);
  session.activity = activity;
  return session;
}

}  // namespace

IslandScene IslandStill::sampleScene(Seconds now) {
  IslandScene scene;
  scene.phase = IslandPhase::expanded;
  scene.now = now;
  scene.animationTime = now;

  AgentSession first = sampleSession(4101, "Claude Code", "garden-planner", now, 540, AgentActivity::working);
  first.context = ClaudeSessionInfo{"Add frost dates to the planting calendar",
                                    "also warn when a seedling goes out before the last frost",
                                    "Added a frost-date lookup and a warning on the calendar view.",
                                    "Opus 4",
                                    "Edit \u2014 src/calendar/frost.ts",
                                    now - 540};
  AgentSession second = sampleSession(4388, "Claude Code", "photo-sorter", now, 4980, AgentActivity::quiet);
  second.context = ClaudeSessionInfo{"Group holiday photos by place",
                                     "skip the screenshots folder",
                                     "Done: 1,204 photos in 37 places; screenshots were left alone.",
                                     "Sonnet 4",
                                     "Bash \u2014 npm test",
                                     now - 4980};
  second.sessionName = "Holiday albums";
  second.waitingFor = "permission prompt";
  AgentSession third = sampleSession(5012, "Codex", "backend", now, 3600, AgentActivity::quiet);
  third.context = ClaudeSessionInfo{"add a health endpoint", "add a health endpoint", "Added GET /health with a test.",
                                    "gpt-6.2-sol", std::nullopt, now - 3600};
  scene.sessions = {first, second, third};
  scene.usage = UsageSnapshot{13, now + 5820, 44, now + 310000, now};
  return scene;
}

void IslandStill::draw(Canvas& canvas, Dispatcher& dispatcher) {
  canvas.fillRect({0, 0, kSize.width, kSize.height}, kBackdrop);
  const IslandScene scene = sampleScene(dispatcher.clock().now());
  NotchIslandView view(dispatcher.mainQueue(), nullptr, nullptr);
  CanvasStateSaver saver(canvas);
  const Point origin = panelOrigin();
  canvas.translate(origin.x, origin.y);
  view.draw(canvas, scene, outlineGeometry(scene, IslandPhase::expanded), 1);
  view.disappear();
}

}  // namespace tovami
