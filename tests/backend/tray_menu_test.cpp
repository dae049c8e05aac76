#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>

#include "linux/app/tray_icon.h"
#include "linux/app/tray_menu.h"

namespace tovami::linux_backend {
namespace {

void ensureApplication() {
  static int argc = 1;
  static char name[] = "tovami_backend_tests";
  static char* argv[] = {name, nullptr};
  if (!qApp) new QApplication(argc, argv);
}

TEST(TrayMenu, ListsEveryEntryInOrderAndEachAgentRowJumpsToItsOwnPid) {
  ensureApplication();
  std::vector<int32_t> jumps;
  TrayMenuModel model;
  model.agents = {
      {"api \u2014 Claude \u00b7 idle", 41}, {"api \u2014 Claude \u00b7 idle", 42}, {"R&D \u2014 Codex", 7}};
  model.jumpToAgent = [&jumps](int32_t pid) { jumps.push_back(pid); };
  QMenu menu;
  fillTrayMenu(menu, model);
  QStringList entries;
  for (QAction* a : menu.actions()) {
    const QString text = a->text() + (a->isCheckable() ? " [x] " : " ") + a->shortcut().toString();
    entries << (a->isSeparator() ? "--" : text.trimmed());
  }
  EXPECT_EQ(entries,
            QStringList({"Start Nap Ctrl+Alt+N", "Notch Island [x]", "Agent Watch [x]", "--",
                         "api \u2014 Claude \u00b7 idle", "api \u2014 Claude \u00b7 idle",
                         "R&&D \u2014 Codex", "Settings\u2026", "About Tovami", "--", "Quit Tovami Ctrl+Q"}));
  menu.actions()[5]->trigger();
  menu.actions()[4]->trigger();
  EXPECT_EQ(jumps, (std::vector<int32_t>{42, 41}));

  QMenu empty;
  fillTrayMenu(empty, {});  // no agents: no separator before "Settings…"; no callbacks: nothing happens
  EXPECT_EQ(empty.actions()[3]->text(), "Settings\u2026");
  for (QAction* action : empty.actions()) action->trigger();
}

TEST(TrayIcon, DrawsTheSleepingCatOrTheCatWithTheDot) {
  ensureApplication();
  for (int pixels : {18, 36}) {
    const QImage z = TrayIcon::renderIcon(false, pixels), dot = TrayIcon::renderIcon(true, pixels);
    ASSERT_EQ(z.size(), QSize(pixels, pixels));
    // Whether the off-white fill shows at a point given in design units.
    const auto lit = [pixels](const QImage& image, double x, double y) {
      const QColor c = image.pixelColor(int(x * pixels / 44), int(y * pixels / 44));
      return c.alpha() > 200 && c.lightness() > 150;
    };
    for (const QImage* image : {&z, &dot}) EXPECT_TRUE(lit(*image, 25, 28)) << pixels;  // the cat's body
    EXPECT_TRUE(lit(z, 11.5, 7)) << pixels;                                             // the Z's top stroke
    EXPECT_TRUE(lit(dot, 12, 10)) << pixels;                                            // the dot's centre
    // Left of the Z's diagonal, inside the dot: only the dot fills it.
    EXPECT_TRUE(lit(dot, 9.2, 10.6)) << pixels;
    EXPECT_FALSE(lit(z, 9.2, 10.6)) << pixels;
  }
}

}  // namespace
}  // namespace tovami::linux_backend
