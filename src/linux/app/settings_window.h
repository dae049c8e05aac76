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
class PreferenceStore;
}

namespace tovami::linux_backend {

class SettingsWindow final : public QWidget {
 public:
  // `sessionNotice`, when not empty, is shown under the hot-key rows.
  SettingsWindow(std::unique_ptr<SettingsModel> model, PreferenceStore& store,
                 const std::string& sessionNotice);
  ~SettingsWindow() override;

  // Stops following the preferences (the window is not refreshed again).
  void detach();

  static constexpr int kWidth = 360;
  static constexpr int kHeight = 420;

 private:
  QCheckBox* addToggle(QVBoxLayout* layout, const std::string& text, std::function<void(bool)> onChange);
  QLabel* addCaption(QVBoxLayout* layout, const std::string& text);
  void build(const std::string& sessionNotice);
  void refresh();

  std::unique_ptr<SettingsModel> model_;
  PreferenceStore& store_;
  int observerToken_ = 0;
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
