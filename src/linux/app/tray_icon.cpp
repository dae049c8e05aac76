#include "linux/app/tray_icon.h"

#include <QPainter>

#include "platform/log.h"

namespace tovami::linux_backend {

TrayIcon::TrayIcon() {
  icon_.setIcon(makeIcon(false));
  icon_.setToolTip("Tovami");
  icon_.setContextMenu(&menu_);
  // A left click opens the same menu, as a menu-bar item does.
  connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger) menu_.popup(QCursor::pos());
  });
  retry_.setInterval(5000);
  connect(&retry_, &QTimer::timeout, this, [this] { showWhenAvailable(); });
  showWhenAvailable();
}

void TrayIcon::setMenuBuilder(std::function<void(QMenu&)> builder) {
  builder_ = std::move(builder);
  rebuildMenu();
}

void TrayIcon::rebuildMenu() {
  menu_.clear();
  if (builder_) builder_(menu_);
}

void TrayIcon::setNotice(const std::string& notice) {
  notice_ = notice;
  updateToolTip();
}

void TrayIcon::setAttention(bool attention) {
  if (attention == attention_) return;
  attention_ = attention;
  icon_.setIcon(makeIcon(attention));
  updateToolTip();
}

void TrayIcon::updateToolTip() {
  QString tip = attention_ ? "Tovami — Claude Code asks for permission" : "Tovami";
  if (!notice_.empty()) tip += "\n" + QString::fromStdString(notice_);
  icon_.setToolTip(tip);
}

void TrayIcon::showWhenAvailable() {
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    retry_.stop();
    icon_.show();
    logInfo(log_categories::kApp, "tray item shown");
    return;
  }
  if (!retry_.isActive()) {
    logInfo(log_categories::kApp, "no system tray yet; the tray item appears when one starts");
    retry_.start();
  }
}

// A small pixel cat curled up asleep, drawn rather than loaded so it needs no image plugin.
QIcon TrayIcon::makeIcon(bool attention) {
  static const char* kRows[] = {
      "..........", "..#...#...", "..##.##...", "..#####...", ".#######..",
      ".#########", "##########", ".########.", "..........", "..........",
  };
  QIcon icon;
  for (int size : {16, 22, 32, 48}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    const double cell = size / 10.0;
    const QColor color = attention ? QColor(217, 119, 87) : QColor(243, 239, 230);
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 10; ++x)
        if (kRows[y][x] == '#') painter.fillRect(QRectF(x * cell, y * cell, cell, cell), color);
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace tovami::linux_backend
