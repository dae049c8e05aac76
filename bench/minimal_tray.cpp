// The start-up and memory baseline: a minimal Qt program with a tray item and a menu, nothing else.
#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);
  QPixmap pixmap(22, 22);
  pixmap.fill(Qt::transparent);
  QPainter(&pixmap).fillRect(4, 4, 14, 14, QColor(217, 119, 87));
  QMenu menu;
  menu.addAction("Quit", &app, &QApplication::quit);
  QSystemTrayIcon tray{QIcon(pixmap)};
  tray.setContextMenu(&menu);
  tray.show();
  return app.exec();
}
