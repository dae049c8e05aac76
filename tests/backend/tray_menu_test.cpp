#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMenu>

#include "backend/gui_application.h"
#include "linux/app/tray_icon.h"
#include "linux/app/tray_menu.h"

namespace tovami::linux_backend {
namespace {

TEST(TrayMenu, ListsEveryEntryInOrderAndEachRowAnswersItsRequestOrJumpsToItsOwnPid) {
  ensureGuiApplication();
  std::vector<int32_t> jumps;
  std::vector<std::pair<std::string, ApprovalDecision>> answers;
  TrayMenuModel model;
  model.approvals = {{"Allow: R&D \u2014 Bash ls", "r1", ApprovalDecision::allow},
                     {"Deny", "r1", ApprovalDecision::deny},
                     {"1 more request waits", {}, std::nullopt}};
  model.agents = {
      {"api \u2014 Claude \u00b7 idle", 41}, {"api \u2014 Claude \u00b7 idle", 42}, {"R&D \u2014 Codex", 7}};
  model.answer = [&answers](const std::string& id, ApprovalDecision decision) { answers.emplace_back(id, decision); };
  model.jumpToAgent = [&jumps](int32_t pid) { jumps.push_back(pid); };
  QMenu menu;
  fillTrayMenu(menu, model);
  QStringList entries;
  for (QAction* a : menu.actions()) {
    const QString text = a->text() + (a->isCheckable() ? " [x] " : " ") + a->shortcut().toString();
    entries << (a->isSeparator() ? "--" : text.trimmed());
  }
  EXPECT_EQ(entries,
            QStringList({"Allow: R&&D \u2014 Bash ls", "Deny", "1 more request waits", "--", "Start Nap Ctrl+Alt+N",
                         "Island [x]", "Agent Watch [x]", "--", "api \u2014 Claude \u00b7 idle",
                         "api \u2014 Claude \u00b7 idle", "R&&D \u2014 Codex", "Settings\u2026", "About Tovami", "--",
                         "Quit Tovami Ctrl+Q"}));
  EXPECT_FALSE(menu.actions()[2]->isEnabled());
  for (int row : {1, 0, 2, 9, 8}) menu.actions()[row]->trigger();  // the note answers nothing
  EXPECT_EQ(answers, (std::vector<std::pair<std::string, ApprovalDecision>>{{"r1", ApprovalDecision::deny},
                                                                          {"r1", ApprovalDecision::allow}}));
  EXPECT_EQ(jumps, (std::vector<int32_t>{42, 41}));

  QMenu empty;
  fillTrayMenu(empty, {});  // no agents: no separator before "Settings…"; no callbacks: nothing happens
  EXPECT_EQ(empty.actions()[3]->text(), "Settings\u2026");
  for (QAction* action : empty.actions()) action->trigger();
}

// The tray shows copies of the builder's rows: unchanged ones stay (the host is told nothing) and
// send their clicks to the latest build's rows; a checkable copy toggles its row once; an open menu
// changes only once it closes.
TEST(TrayMenu, RowsThatStayTheSameAreKeptAndReachTheLatestBuild) {
  ensureGuiApplication();
  TrayIcon icon;
  int builds = 0, clickedBuild = 0;
  bool islandOn = false;
  QString title = "api";
  icon.setMenuBuilder([&](QMenu& menu) {
    const int build = ++builds;
    QAction* island = menu.addAction("Island");
    island->setCheckable(true);
    island->setChecked(islandOn);
    QObject::connect(island, &QAction::toggled, [&islandOn](bool on) { islandOn = on; });
    menu.addAction(title, [&clickedBuild, build] { clickedBuild = build; });
  });
  const QList<QAction*> rows = icon.menu()->actions();
  rows[0]->trigger();
  EXPECT_TRUE(islandOn);
  icon.rebuildMenu();
  EXPECT_EQ(icon.menu()->actions(), rows);
  rows[1]->trigger();
  EXPECT_EQ(clickedBuild, 2);
  title = "web";
  icon.rebuildMenu();
  EXPECT_EQ(icon.menu()->actions(), rows);  // as many rows: the changed one changes in place
  EXPECT_EQ(icon.menu()->actions()[1]->text(), "web");
  EXPECT_TRUE(icon.menu()->actions()[0]->isChecked());
  icon.menu()->actions()[1]->trigger();
  EXPECT_EQ(clickedBuild, 3);

  // Changes that come with every scan: one rebuild a second at most, the last change not lost.
  title = "docs";
  icon.rebuildMenuSoon();
  icon.rebuildMenuSoon();
  EXPECT_EQ(builds, 3);
  QElapsedTimer waited;
  waited.start();
  while (builds == 3 && waited.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  EXPECT_EQ(builds, 4);
  EXPECT_EQ(icon.menu()->actions()[1]->text(), "docs");

  // An open menu keeps its rows until it closes.
  icon.menu()->popup({0, 0});
  ASSERT_TRUE(icon.menu()->isVisible());
  title = "ops";
  icon.rebuildMenu();
  EXPECT_EQ(icon.menu()->actions()[1]->text(), "docs");
  icon.menu()->hide();
  QCoreApplication::processEvents();
  EXPECT_EQ(icon.menu()->actions()[1]->text(), "ops");
}

}  // namespace
}  // namespace tovami::linux_backend
