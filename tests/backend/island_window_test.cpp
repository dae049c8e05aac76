#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>

#include "linux/island/island_window.h"

namespace tovami::linux_backend {
namespace {

void runEventsFor(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

TEST(IslandWindow, TakesThePointerOnTheOutlineOnlyAndRepaintsOnlyWhileAnimating) {
  static int argc = 1;
  static char name[] = "tovami_backend_tests", *argv[] = {name, nullptr};
  if (!qApp) new QApplication(argc, argv);
  IslandWindow window;
  QPainterPath capsule;
  capsule.addRoundedRect(QRectF(260, 4, 180, 24), 12, 12);
  window.setOutline(capsule);
  std::vector<std::string> seen;
  int paints = 0;
  window.setPaintCallback([&paints](QPainter&) { ++paints; });
  window.setOnHoverChanged([&seen](bool inside) { seen.push_back(inside ? "enter" : "leave"); });
  window.setOnClicked([&seen](QPointF at) { seen.push_back("click " + std::to_string(int(at.x()))); });
  window.setFrame({290, 0, 700, 560});
  window.orderFront(true);
  ASSERT_TRUE(window.isShown());

  const auto send = [&window](QEvent::Type type, QPointF at) {
    QMouseEvent event(type, at, window.mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &event);
  };
  for (QPointF at : {QPointF(100, 100), QPointF(350, 16)}) {  // beside the capsule, then on it
    send(QEvent::MouseMove, at);
    send(QEvent::MouseButtonPress, at);
    send(QEvent::MouseButtonRelease, at);
  }
  send(QEvent::MouseMove, {350, 200});
  EXPECT_EQ(seen, (std::vector<std::string>{"enter", "click 350", "leave"}));

  window.setAnimating(true);
  runEventsFor(200);
  EXPECT_GE(paints, 5);
  window.setAnimating(false);
  runEventsFor(50);
  paints = 0;
  runEventsFor(200);
  EXPECT_EQ(paints, 0);  // a still island costs nothing
  window.scheduleRedraw(0.05);
  runEventsFor(200);
  EXPECT_EQ(paints, 1);
  window.orderOut();
  EXPECT_FALSE(window.isShown());
}

}  // namespace
}  // namespace tovami::linux_backend
