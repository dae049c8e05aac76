#include <gtest/gtest.h>

#include <QElapsedTimer>

#include "backend/gui_application.h"
#include "linux/island/island_window.h"

namespace tovami::linux_backend {
namespace {

// Counts the repaints while the event loop runs for `ms`.
int paintsWithin(int& paints, int ms) {
  paints = 0;
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  return paints;
}

TEST(IslandWindow, RepaintsOnlyWhileAnimatingOrWhenAsked) {
  ensureGuiApplication();
  IslandWindow window;
  int paints = 0;
  window.setPaintCallback([&paints](QPainter&) { ++paints; });
  window.setFrame({290, 0, 700, 560});
  window.orderFront(true);
  window.setAnimating(true);
  EXPECT_GE(paintsWithin(paints, 200), 5);
  window.setAnimating(false);
  paintsWithin(paints, 50);
  EXPECT_EQ(paintsWithin(paints, 200), 0);  // a still island costs nothing
  window.scheduleRedraw(0.05);
  EXPECT_EQ(paintsWithin(paints, 200), 1);
  window.orderOut();
  window.setAnimating(true);  // hidden: still no timer
  EXPECT_EQ(paintsWithin(paints, 100), 0);
  EXPECT_FALSE(window.isShown());
}

}  // namespace
}  // namespace tovami::linux_backend
