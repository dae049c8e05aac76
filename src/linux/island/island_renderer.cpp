#include "linux/island/island_renderer.h"

#include "island/island_still.h"
#include "linux/nap/overlay_renderer.h"

namespace tovami::linux_backend {

QImage renderIslandImage(Dispatcher& dispatcher) {
  return renderStill(IslandStill::kSize, IslandStill::kScale,
                     [&dispatcher](Canvas& canvas) { IslandStill::draw(canvas, dispatcher); });
}

bool renderIsland(const std::string& path, Dispatcher& dispatcher) {
  return writeStill(renderIslandImage(dispatcher), path);
}

}  // namespace tovami::linux_backend
