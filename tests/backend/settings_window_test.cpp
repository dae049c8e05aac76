#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLayout>
#include <QListWidget>
#include <QPointer>
#include <QScrollBar>
#include <QStackedWidget>

#include "app/display_session.h"
#include "app/preference_keys.h"
#include "app/settings_texts.h"
#include "backend/gui_application.h"
#include "linux/app/settings_window.h"
#include "platform/login_item.h"
#include "support/memory_preferences.h"

namespace tovami::linux_backend {
namespace {

struct FakeLoginItem final : LoginItemService {
  bool enabled = false;
  bool isEnabled() const override { return enabled; }
  std::optional<std::string> setEnabled(bool on) override {
    enabled = on;
    return std::nullopt;
  }
};

// The longest texts: a Wayland session adds the password and session notices.
TEST(SettingsWindow, EveryPageFitsCaptionsStayShortAndTheKeptWindowFollowsThePreferences) {
  ensureGuiApplication();
  testing::MemoryPreferences prefs;
  FakeLoginItem login;
  QPointer<SettingsWindow> window =
      new SettingsWindow(std::make_unique<SettingsModel>(prefs, login, AppServices{}, false, nullptr), prefs,
                         SettingsSessionFacts{displaySessionNotice(true, true, true, false), false, nullptr});
  window->show();
  QApplication::processEvents();

  auto* list = window->findChild<QListWidget*>(SettingsWindow::kPageListName);
  QStringList titles;
  for (int row = 0; row < list->count(); ++row) titles << list->item(row)->text();
  titles.removeOne("Other machines");  // listed once it has rows
  EXPECT_EQ(titles, QStringList({"Nap", "Island", "Agents", "Approvals", "Usage", "General"}));
  EXPECT_LE(window->height(), 520);  // with its frame, well inside 1280 x 800
  auto* stack = window->findChild<QStackedWidget*>();
  int captions = 0;
  for (int row = 0; row < list->count(); ++row) {
    list->setCurrentRow(row);  // laid out at its real width once shown
    QApplication::processEvents();
    QWidget* page = stack->currentWidget();
    const std::string title = page->objectName().toStdString();
    EXPECT_EQ(page->objectName(), list->item(row)->text());
    EXPECT_GT(page->layout()->count(), 3) << title;  // rows beyond the heading, its space and the stretch
    EXPECT_LE(page->heightForWidth(stack->width()), stack->height()) << title;
    for (auto* label : page->findChildren<QLabel*>()) {
      if (!label->property("caption").toBool()) continue;
      ++captions;
      EXPECT_LT(label->heightForWidth(label->width()), 3 * label->fontMetrics().lineSpacing())
          << label->text().toStdString();
    }
  }
  EXPECT_GE(captions, 8);
  for (auto* bar : window->findChildren<QScrollBar*>()) EXPECT_FALSE(bar->isVisible());

  auto* usage = window->findChild<QCheckBox*>(QString::fromStdString(settings_texts::kShowUsage));
  ASSERT_TRUE(usage && usage->isChecked());
  usage->click();
  EXPECT_FALSE(prefs.boolValue(prefs::kUsageTracking));
  window->close();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ASSERT_TRUE(window);  // kept
  prefs.setBool(prefs::kUsageTracking, true);
  EXPECT_TRUE(usage->isChecked());
  login.enabled = true;  // changed behind its back: read again when shown
  window->show();
  EXPECT_TRUE(
      window->findChild<QCheckBox*>(QString::fromStdString(settings_texts::kStartAtLogin))->isChecked());
  delete window;
}

}  // namespace
}  // namespace tovami::linux_backend
