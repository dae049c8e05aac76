#include <gtest/gtest.h>

#include <QIcon>
#include <QPixmap>

#include "gui_application.h"
#include "linux/app/tray_icon.h"
#include "linux/app/tray_icon_figure.h"

using namespace tovami::linux_backend;

// The pixels a start copies are the figure as drawn, for each state at each size: a build that
// drew the wrong state, size or layout into them fails here.
TEST(TrayIconPixels, AreTheFigureAsDrawnInBothStatesAndSizes) {
  ensureGuiApplication();
  QImage sleeping;
  for (const bool attention : {false, true}) {
    const QImage large = renderTrayIcon(attention, kTrayIconLargePixels);
    const QIcon icon = TrayIcon::makeIcon(attention);
    for (const QImage& drawn : {large, halveTrayIcon(large)}) {
      const QImage copied =
          icon.pixmap(drawn.size()).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
      EXPECT_EQ(copied, drawn) << "attention " << attention << ", " << drawn.width() << " pixels";
    }
    // A cat: its body off-white and opaque, the corner clear; the two states differ.
    EXPECT_EQ(large.pixel(20, 23), qRgba(250, 249, 245, 255));
    EXPECT_EQ(qAlpha(large.pixel(0, 0)), 0);
    if (!attention)
      sleeping = large;
    else
      EXPECT_NE(large, sleeping);
  }
}
