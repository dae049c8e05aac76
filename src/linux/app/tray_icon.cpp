#include "linux/app/tray_icon.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <algorithm>

#include "linux/app/tray_icon_figure.h"
#include "linux/app/tray_icon_pixels.h"
#include "linux/x11/xcb_facts.h"
#include "linux/x11/xcb_support.h"
#include "platform/log.h"

namespace tovami::linux_backend {

TrayIcon::TrayIcon() {
  connect(&menu_, &QMenu::aboutToHide, this, [this] {
    // After the chosen action has run: Qt triggers it once the menu is hidden.
    QTimer::singleShot(0, this, [this] {
      if (rebuildWhenHidden_) rebuildMenu();
    });
  });
  soon_.setSingleShot(true);
  connect(&soon_, &QTimer::timeout, this, &TrayIcon::rebuildMenu);
  retry_.setInterval(5000);
  connect(&retry_, &QTimer::timeout, this, [this] {
    if (!icon_ && x11TrayRuns()) show();
  });
  showWhenAvailable();
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::setMenuBuilder(std::function<void(QMenu&)> builder) {
  builder_ = std::move(builder);
  rebuildMenu();
}

void TrayIcon::rebuildMenuSoon() {
  constexpr qint64 kInterval = 1000;
  if (soon_.isActive()) return;
  const qint64 since = lastBuilt_.isValid() ? lastBuilt_.elapsed() : kInterval;
  if (since >= kInterval)
    rebuildMenu();
  else
    soon_.start(int(kInterval - since));
}

void TrayIcon::rebuildMenu() {
  soon_.stop();
  lastBuilt_.start();
  // Rows never change under the pointer of an open menu (an Allow row would then name another
  // request): the menu is rebuilt once it closes. A row for a request gone meanwhile answers nothing.
  if (menu_.isVisible()) {
    rebuildWhenHidden_ = true;
    return;
  }
  rebuildWhenHidden_ = false;
  auto rows = std::make_unique<QMenu>();
  if (builder_) builder_(*rows);
  showRows(rows->actions());
  rows_ = std::move(rows);  // Qt allows an action to go while its own signal runs
}

namespace {

bool looksAlike(const QAction* a, const QAction* b) {
  return a->text() == b->text() && a->isSeparator() == b->isSeparator() && a->isEnabled() == b->isEnabled() &&
         a->isCheckable() == b->isCheckable() && a->isChecked() == b->isChecked() &&
         a->isVisible() == b->isVisible() && a->shortcut() == b->shortcut();
}

void copyLook(const QAction* from, QAction* to) {
  to->setText(from->text());
  to->setSeparator(from->isSeparator());
  to->setEnabled(from->isEnabled());
  to->setCheckable(from->isCheckable());
  to->setChecked(from->isChecked());
  to->setVisible(from->isVisible());
  to->setShortcut(from->shortcut());
}

}  // namespace

// Qt's D-Bus menu tells the tray host of a new layout for each row added or removed, and the host
// reads the whole menu again each time. So rows stay where their number stays (their clicks go to
// the new rows), and otherwise the exported menu is kept quiet until the last row, whose addition
// tells of all.
void TrayIcon::showRows(const QList<QAction*>& rows) {
  const QList<QAction*> shown = menu_.actions();
  if (shown.size() == rows.size()) {
    // As many rows as before (an agent's state changed): only the rows that differ change, each
    // told to the host as new properties of that item, with no new layout.
    for (qsizetype i = 0; i < rows.size(); ++i)
      if (!looksAlike(shown[i], rows[i])) copyLook(rows[i], shown[i]);
    return;
  }
  // The platform menu is a QObject, its only base; its header is private to Qt.
  auto* exported = rows.isEmpty() ? nullptr : reinterpret_cast<QObject*>(menu_.platformMenu());
  const bool wasBlocked = exported && exported->blockSignals(true);
  menu_.clear();
  for (qsizetype i = 0; i < rows.size(); ++i) {
    if (i == rows.size() - 1 && exported) exported->blockSignals(wasBlocked);
    auto* copy = new QAction(&menu_);
    copyLook(rows[i], copy);
    // A checkable copy has toggled itself; triggering the row toggles it the same way.
    connect(copy, &QAction::triggered, this, [this, i] {
      if (QAction* target = rows_ ? rows_->actions().value(i) : nullptr) target->trigger();
    });
    menu_.addAction(copy);
  }
  if (exported) exported->blockSignals(wasBlocked);
}

void TrayIcon::setNotice(const std::string& notice) {
  notice_ = notice;
  updateToolTip();
}

void TrayIcon::setAttention(bool attention) {
  if (attention == attention_) return;
  attention_ = attention;
  if (icon_) icon_->setIcon(makeIcon(attention));
  updateToolTip();
}

void TrayIcon::updateToolTip() {
  QString tip = attention_ ? "Tovami — an agent asks for permission" : "Tovami";
  if (!notice_.empty()) tip += "\n" + QString::fromStdString(notice_);
  if (icon_) icon_->setToolTip(tip);
}

// Qt settles which kind of tray an icon uses, and whether a StatusNotifier host exists at all, at
// the first icon it makes and never asks again: an icon made before the panel is up would stay
// invisible once it comes. So the icon is made only once a tray is there, and the question is put
// on the bus connection the program already has (Qt's own opens a connection of its own for it).
bool TrayIcon::statusNotifierHostRuns() {
  const QDBusConnection bus = QDBusConnection::sessionBus();
  return bus.isConnected() && bus.interface() &&
         bus.interface()->isServiceRegistered("org.kde.StatusNotifierWatcher").value();
}

// One round trip: the selection's atom is asked for once (made if need be, as the tray will).
bool TrayIcon::x11TrayRuns() {
  xcb_connection_t* x11 = qtXcbConnection();
  if (!x11) return false;
  const int screen = defaultXcbScreenNumber();
  if (trayAtom_ == XCB_ATOM_NONE) trayAtom_ = internAtom(x11, "_NET_SYSTEM_TRAY_S" + std::to_string(screen));
  return trayAtom_ != XCB_ATOM_NONE && selectionOwned(x11, trayAtom_);
}

void TrayIcon::show() {
  retry_.stop();
  icon_ = std::make_unique<QSystemTrayIcon>();
  icon_->setIcon(makeIcon(attention_));
  icon_->setContextMenu(&menu_);
  updateToolTip();
  // A left click opens the same menu, as a menu-bar item does.
  connect(icon_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger) menu_.popup(QCursor::pos());
  });
  icon_->show();
  logInfo(log_categories::kApp, "tray item shown");
}

// A StatusNotifier host's arrival is followed on the bus (watched before asking again, so none
// slips between); an X11 system tray announces itself to nobody and is looked for every 5 s.
void TrayIcon::showWhenAvailable() {
  if (statusNotifierHostRuns() || x11TrayRuns()) return show();
  hostWatcher_ = new QDBusServiceWatcher("org.kde.StatusNotifierWatcher", QDBusConnection::sessionBus(),
                                         QDBusServiceWatcher::WatchForRegistration, this);
  connect(hostWatcher_, &QDBusServiceWatcher::serviceRegistered, this, [this] {
    if (!icon_) show();
  });
  if (statusNotifierHostRuns()) return show();
  logInfo(log_categories::kApp, "no system tray yet; the tray item appears when one starts");
  retry_.start();
}

// The pixels were drawn when the program was built: a start copies them and draws nothing (the
// drawing, with its stroke and the raster engine's worker threads, cost most of a millisecond).
QIcon TrayIcon::makeIcon(bool attention) {
  const auto image = [](const uint32_t* pixels, int size) {
    return QImage(reinterpret_cast<const uchar*>(pixels), size, size, size * 4,
                  QImage::Format_ARGB32_Premultiplied);
  };
  QIcon icon;
  icon.addPixmap(QPixmap::fromImage(image(
      attention ? tray_icon_pixels::kAttentionSmall : tray_icon_pixels::kSleepSmall, kTrayIconSmallPixels)));
  icon.addPixmap(QPixmap::fromImage(image(
      attention ? tray_icon_pixels::kAttentionLarge : tray_icon_pixels::kSleepLarge, kTrayIconLargePixels)));
  return icon;
}

}  // namespace tovami::linux_backend
