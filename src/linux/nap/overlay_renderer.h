// "--render-overlay PATH": the nap scene as a still, drawn off screen and written as PNG.
#pragma once

#include <QByteArray>
#include <QImage>
#include <functional>
#include <string>

#include "platform/canvas.h"
#include "platform/scheduler.h"

namespace tovami::linux_backend {

// The still at its scale: 1600 x 840 pixels for 800 x 420 points.
QImage renderOverlayImage(Dispatcher& dispatcher);

// Writes `bytes` to `path` whole or not at all: through a temporary file in the same folder
// that replaces the target when complete. A path naming a device (a pipe, /dev/stdout) is
// written directly. A read-only target is refused. Returns false on any failure.
bool writeFileCompletely(const std::string& path, const QByteArray& bytes);

// A still of `size` points at `scale` drawn by `draw` on a transparent image (null when the image
// cannot be made).
QImage renderStill(Size size, double scale, const std::function<void(Canvas&)>& draw);

// Writes an opaque still as PNG through writeFileCompletely; prints "render failed" to standard
// error on any failure (a null image included).
bool writeStill(const QImage& image, const std::string& path);

// Renders and writes the still; prints "render failed" to standard error on any failure.
bool renderOverlay(const std::string& path, Dispatcher& dispatcher);

}  // namespace tovami::linux_backend
