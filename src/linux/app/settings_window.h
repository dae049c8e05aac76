// The settings window over SettingsModel: a list of pages on the left, the chosen page on the right,
// sized to the tallest page. It is kept: closing hides it, and it follows the preferences meanwhile.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/settings_model.h"

class QCheckBox;
class QLabel;
class QListWidget;
class QStackedWidget;
class QVBoxLayout;

namespace tovami {
class HotKeyControl;
class PreferenceStore;
}  // namespace tovami

namespace tovami::linux_backend {

// What the session allows, for the window to say.
struct SettingsSessionFacts {
  std::string notice;                // shown under the hot-key rows when not empty
  bool passwordProtects = true;      // false: a nap cannot hold the keyboard, so it asks no password
  HotKeyControl* hotKeys = nullptr;  // the keys the desktop bound; null shows the usual ones
};

class SettingsWindow final : public QWidget {
 public:
  SettingsWindow(std::unique_ptr<SettingsModel> model, PreferenceStore& store, SettingsSessionFacts session);
  ~SettingsWindow() override;

  // Stops following the preferences (the window is not refreshed again).
  void detach();

  // The page list's object name; each entry's text is its page's title.
  static constexpr const char* kPageListName = "settingsPages";
  static constexpr int kWidth = 680;
  static constexpr int kMinHeight = 340;

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;  // Escape closes, as in a dialog
  // Closing hides and keeps the native window, so reopening only maps it; once the application
  // quits, a close goes through (an ignored one would cancel the quit).
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // A page is shown only when its builder added a row.
  using PageBuilder = void (SettingsWindow::*)(QVBoxLayout*);
  void addPage(const std::string& title, const std::string& heading, PageBuilder build);
  void buildNap(QVBoxLayout* page);
  void buildIsland(QVBoxLayout* page);
  void buildAgents(QVBoxLayout* page);
  void buildApprovals(QVBoxLayout* page);
  void buildUsage(QVBoxLayout* page);
  void buildOtherMachines(QVBoxLayout* page);
  void buildGeneral(QVBoxLayout* page);

  // Rows. Each registers how it shows the model, run by refresh().
  QCheckBox* addSwitch(QVBoxLayout* page, const std::string& text, std::function<bool()> isOn,
                       std::function<void(bool)> set, std::function<bool()> isEnabled = nullptr);
  // A red line under its switch, shown in full while the model reports an error.
  QLabel* addError(QVBoxLayout* page, std::function<std::optional<std::string>()> error);
  // The first sentence; the rest behind "More…" and in the tooltip.
  QLabel* addCaption(QVBoxLayout* page, const std::string& text);

  void refresh();
  void showHotKeys();
  void fitToContent();

  std::unique_ptr<SettingsModel> model_;
  PreferenceStore& store_;
  SettingsSessionFacts session_;
  int observerToken_ = 0;
  int bindingToken_ = 0;
  bool refreshing_ = false;
  bool quitting_ = false;
  QListWidget* pages_ = nullptr;
  QStackedWidget* stack_ = nullptr;
  QLabel* napKey_ = nullptr;
  QLabel* islandKey_ = nullptr;
  std::vector<std::function<void()>> rows_;
};

}  // namespace tovami::linux_backend
