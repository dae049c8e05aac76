// The tray item and its menu (a StatusNotifierItem where the desktop hosts one, XEmbed
// otherwise). Where no tray exists yet, it keeps looking and appears when one does.
#pragma once

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QDBusServiceWatcher;

namespace tovami::linux_backend {

class TrayIcon final : public QObject {
 public:
  TrayIcon();
  ~TrayIcon() override;
  QMenu* menu() { return &menu_; }
  // Builds the menu now and on each rebuildMenu() (called when what it shows changes). The builder
  // fills a menu of its own; the tray's menu shows copies of its rows that trigger them. Rows that
  // look as before are kept, so the tray host hears nothing; otherwise it hears one layout change.
  void setMenuBuilder(std::function<void(QMenu&)> builder);
  void rebuildMenu();
  // For what changes with every scan of every linked host (agent rows): the first change rebuilds
  // at once, later ones at most once a second, so ten hosts do not rebuild it ten times as often.
  void rebuildMenuSoon();
  bool isVisible() const { return icon_ && icon_->isVisible(); }
  // A sentence under the name in the tooltip (what works in this session and what does not).
  void setNotice(const std::string& notice);
  // The cat with the dot: an approval waits for the user.
  void setAttention(bool attention);
  bool hasAttention() const { return attention_; }

  // The sleeping cat, or the cat with the dot, at 18 and 36 pixels.
  static QIcon makeIcon(bool attention);

 private:
  void showWhenAvailable();
  void show();
  static bool statusNotifierHostRuns();
  bool x11TrayRuns();
  void showRows(const QList<QAction*>& rows);
  QMenu menu_;  // before the icon, which shows it
  std::unique_ptr<QMenu> rows_;  // the builder's menu, whose actions menu_'s rows trigger
  std::unique_ptr<QSystemTrayIcon> icon_;  // made once a tray is there
  QTimer retry_;
  QTimer soon_;              // a rate-limited rebuild that is due
  QElapsedTimer lastBuilt_;  // since the last rebuild
  uint32_t trayAtom_ = 0;  // _NET_SYSTEM_TRAY_S<screen>, once asked for
  QDBusServiceWatcher* hostWatcher_ = nullptr;  // made while no tray is there
  std::function<void(QMenu&)> builder_;
  bool attention_ = false;
  bool rebuildWhenHidden_ = false;
  std::string notice_;
  void updateToolTip();
};

}  // namespace tovami::linux_backend
