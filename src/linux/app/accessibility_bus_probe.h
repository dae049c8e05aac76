// Whether the desktop's accessibility bus launcher (org.a11y.Bus) answers, asked before the toolkit
// starts. Qt's accessibility bridge reads two of its properties while the application starts, each
// with D-Bus's default 25 s time-out: a launcher that never answers would hold the tray back 50 s.
#pragma once

#include <chrono>

namespace tovami::linux_backend {

// True when org.a11y.Bus has an owner on the session bus that does not answer within `bound`. No
// session bus, no owner, or an answer (even an error) is false. Costs at most `bound`.
bool accessibilityBusHangs(std::chrono::milliseconds bound);

}  // namespace tovami::linux_backend
