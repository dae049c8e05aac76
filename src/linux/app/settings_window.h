// The settings window: a fixed 360 x 420 grouped form over SettingsModel.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "app/settings_model.h"

class QCheckBox;
class QLabel;
class QRadioButton;
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

  static constexpr int kWidth = 360;
  static constexpr int kHeight = 420;

 private:
  QCheckBox* addToggle(QVBoxLayout* layout, const std::string& text, std::function<void(bool)> onChange);
  QLabel* addCaption(QVBoxLayout* layout, const std::string& text);
  void build();
  void refresh();
  void showHotKeys();

  std::unique_ptr<SettingsModel> model_;
  PreferenceStore& store_;
  SettingsSessionFacts session_;
  int observerToken_ = 0;
  int bindingToken_ = 0;
  QLabel* napKey_ = nullptr;
  QLabel* islandKey_ = nullptr;
  bool refreshing_ = false;

  QRadioButton* justWake_ = nullptr;
  QRadioButton* authWake_ = nullptr;
  QCheckBox* island_ = nullptr;
  QCheckBox* hover_ = nullptr;
  QCheckBox* cat_ = nullptr;
  QCheckBox* agentWatch_ = nullptr;
  std::vector<std::pair<QCheckBox*, std::string>> agentRows_;
  QCheckBox* batteryGuard_ = nullptr;
  QCheckBox* approvals_ = nullptr;
  QLabel* approvalsError_ = nullptr;
  QCheckBox* codexApprovals_ = nullptr;
  QLabel* codexApprovalsError_ = nullptr;
  QCheckBox* usage_ = nullptr;
  QCheckBox* login_ = nullptr;
  QLabel* loginError_ = nullptr;
};

}  // namespace tovami::linux_backend
