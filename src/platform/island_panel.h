// The island's window as the logic sees it: a transparent, always-on-top panel that never takes
// the keyboard focus, placed in global screen points (top-left origin), shown and hidden.
#pragma once

#include <functional>
#include <memory>

#include "platform/geometry.h"

namespace tovami {

class IslandPanel {
 public:
  virtual ~IslandPanel() = default;
  // Global coordinates in points, top-left origin; applied without an immediate redraw.
  virtual void setFrame(const Rect& frame) = 0;
  // Brings the panel to the front without activating the program; `fadeIn` fades it in over 0.15 s.
  virtual void orderFront(bool fadeIn) = 0;
  virtual void orderOut() = 0;
  virtual bool isShown() const = 0;
};

// Makes the one panel the first time the island is placed on a screen.
using IslandPanelFactory = std::function<std::unique_ptr<IslandPanel>()>;

}  // namespace tovami
