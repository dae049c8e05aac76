#include "linux/app/tray_menu.h"

#include "app/platform_wording.h"

namespace tovami::linux_backend {
namespace {

// Calls `action` if it is set; the menu may outlive what it was built from, so it copies it.
template <typename... Args>
auto call(const std::function<void(Args...)>& action) {
  return [action](Args... args) {
    if (action) action(args...);
  };
}

QAction* addToggle(QMenu& menu, const char* title, bool on, const std::function<void(bool)>& set) {
  QAction* toggle = menu.addAction(title);
  toggle->setCheckable(true);
  toggle->setChecked(on);
  QObject::connect(toggle, &QAction::toggled, call(set));
  return toggle;
}

}  // namespace

void fillTrayMenu(QMenu& menu, const TrayMenuModel& model) {
  // Each row answers the request it was built for; the server ignores one that no longer waits.
  for (const auto& row : model.approvals) {
    QAction* action = menu.addAction(QString::fromStdString(row.label).replace("&", "&&"));
    if (!row.decision) {
      action->setEnabled(false);
      continue;
    }
    QObject::connect(action, &QAction::triggered,
                     [answer = model.answer, id = row.requestId, decision = *row.decision] {
                       if (answer) answer(id, decision);
                     });
  }
  if (!model.approvals.empty()) menu.addSeparator();
  QAction* startNap = menu.addAction("Start Nap", call(model.startNap));
  startNap->setShortcut(QKeySequence(QString::fromUtf8(wording::kNapHotKey)));  // shown beside the item
  startNap->setEnabled(model.napAvailable);
  addToggle(menu, wording::kIslandMenuItem, model.islandOn, model.setIslandOn);
  addToggle(menu, "Agent Watch", model.agentWatchOn, model.setAgentWatchOn);
  if (!model.agents.empty()) {
    menu.addSeparator();
    // Rows name the agent by pid, so two sessions with the same title stay apart.
    for (const auto& row : model.agents)
      // "&" in a folder name is text, not a keyboard mnemonic.
      menu.addAction(QString::fromStdString(row.title).replace("&", "&&"),
                     [jump = model.jumpToAgent, pid = row.pid] {
                       if (jump) jump(pid);
                     });
  }
  menu.addAction("Settings\u2026", call(model.openSettings));
  menu.addAction("About Tovami", call(model.openAbout));
  menu.addSeparator();
  menu.addAction("Quit Tovami", call(model.quit))->setShortcut(QKeySequence("Ctrl+Q"));
}

}  // namespace tovami::linux_backend
