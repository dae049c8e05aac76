// The island as a still picture: the expanded island filled with built-in sample content (three
// agents, the usage figures), drawn at the top centre of a 660 x 560 picture.
#pragma once

#include "island/island_layout.h"
#include "island/island_scene.h"
#include "platform/canvas.h"
#include "platform/scheduler.h"

namespace tovami {

struct IslandStill {
  static constexpr Size kSize{660, 560};
  static constexpr double kScale = 2;
  static constexpr Color kBackdrop{41, 36, 33};  // sRGB (0.16, 0.14, 0.13)
  // The sample content, with every time relative to `now`.
  static IslandScene sampleScene(Seconds now);
  // The panel's offset in the picture: the island sits at the top centre.
  static Point panelOrigin() { return {(kSize.width - island_layout::kPanelWidth) / 2, 0}; }
  static void draw(Canvas& canvas, Dispatcher& dispatcher);
};

}  // namespace tovami
