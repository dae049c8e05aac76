// The tray item's picture: the cat, asleep or with the dot of an approval that waits. Drawn when
// the program is built (tray_icon_pixels) and kept as pixels; a start only copies them.
#pragma once

#include <QImage>
#include <QPainterPath>

namespace tovami::linux_backend {

// The cat in a 44-unit design space: its silhouette, and above its back either the "Z" of sleep
// or, while an approval waits, a dot.
QPainterPath trayIconFigure(bool attention);

// The figure at `pixels` square, off-white with a thin dark rim.
QImage renderTrayIcon(bool attention, int pixels);

// The smaller size: the larger halved, which antialiases as well as drawing it anew.
QImage halveTrayIcon(const QImage& large);

constexpr int kTrayIconLargePixels = 36;
constexpr int kTrayIconSmallPixels = 18;

}  // namespace tovami::linux_backend
