// What is drawn inside the island's outline: the collapsed wings beside the housing, and the
// expanded card with the approval, the wake report, or the agents with the usage meter and the nap
// controls. The view draws a scene into a canvas in panel coordinates and tells what lies under
// a point; the caller animates the outline and the cross-fade between the two contents.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "island/island_layout.h"
#include "island/island_scene.h"
#include "pixel_art/pixel_figures.h"
#include "platform/canvas.h"
#include "platform/random.h"
#include "platform/scheduler.h"

namespace tovami {

namespace island_text {
inline constexpr const char* kNoAgents = "No agents running \u2014 the cat naps alone.";
inline constexpr const char* kAnswerInTerminal = "Answer in the terminal";
// "Claude" for Claude Code, any other agent name unchanged.
std::string agentTag(const std::string& agentName);
// "%lld more" for the sessions beyond the shown rows.
std::string moreLine(size_t hidden);
// "1 of 3": the card in front among the requests waiting.
std::string queuePosition(size_t waiting);
// Minutes and seconds left, without an hours field: "14:59", "75:00".
std::string countdown(Seconds remaining);
}  // namespace island_text

class NotchIslandView {
 public:
  // The cat badge blinks on `queue`, with waits drawn from `random`; `redraw` is called whenever the
  // picture changes by itself outside the times nextRedrawIn() announces.
  NotchIslandView(TaskQueue& queue, std::shared_ptr<RandomSource> random, std::function<void()> redraw);
  ~NotchIslandView();
  NotchIslandView(const NotchIslandView&) = delete;
  NotchIslandView& operator=(const NotchIslandView&) = delete;

  // Draws the outline with its shadow and the content clipped to it. `expandedOpacity` goes from 0
  // (collapsed content only) to 1 (expanded content only) during a phase change.
  void draw(Canvas& canvas, const IslandScene& scene, const OutlineGeometry& geometry,
            double expandedOpacity);
  // What lies under `point` (panel coordinates) in the picture last drawn for this scene.
  IslandHit hitTest(const IslandScene& scene, const OutlineGeometry& geometry, Point point) const;
  // How soon the picture changes by itself, or nothing while it stands still.
  std::optional<Seconds> nextRedrawIn(const IslandScene& scene) const;
  // The island left the screen: the badge stops blinking.
  void disappear();

  const CollapsedCatBadge& badge() const { return *badge_; }

 private:
  struct Control {
    IslandHit hit;
    Rect rect;  // unscaled panel coordinates
  };
  class Painter;

  void updateBadge(const IslandScene& scene, bool shown);

  TaskQueue& queue_;
  std::shared_ptr<RandomSource> random_;
  std::function<void()> redraw_;
  std::unique_ptr<CollapsedCatBadge> badge_;
  bool badgeShown_ = false;
  std::vector<Control> controls_;
  bool expandedControls_ = false;
};

}  // namespace tovami
