// "--render-island PATH": the expanded island with its sample content as a still, drawn off
// screen and written as PNG.
#pragma once

#include <QImage>
#include <string>

#include "platform/scheduler.h"

namespace tovami::linux_backend {

// The still at its scale: 1320 x 1120 pixels for 660 x 560 points.
QImage renderIslandImage(Dispatcher& dispatcher);

// Renders and writes the still; prints "render failed" to standard error on any failure.
bool renderIsland(const std::string& path, Dispatcher& dispatcher);

}  // namespace tovami::linux_backend
