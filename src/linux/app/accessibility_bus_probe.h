// Whether the desktop's accessibility bus launcher (org.a11y.Bus) answers. Qt's accessibility bridge,
// which starts with the first window or else with the event loop, reads two of its properties, each
// with D-Bus's default 25 s time-out: a launcher that never answers would hold the tray back 50 s.
#pragma once

#include <chrono>

namespace tovami::linux_backend {

// True when org.a11y.Bus has an owner on the session bus that does not answer within `bound`. No
// session bus, no owner, or an answer (even an error) is false. Costs at most `bound`. Asked on the
// application's own session bus connection, after the application is made and before any window is.
bool accessibilityBusHangs(std::chrono::milliseconds bound);

}  // namespace tovami::linux_backend
