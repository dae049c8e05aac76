// Settings → "Other machines": the ssh hosts whose agents Tovami shows (one a line), a switch per
// host for its approvals, each link's state in plain words, "Install on <host>" where Tovami is
// missing, and "Connect now".
#pragma once

#include <QWidget>

namespace tovami {
class PreferenceStore;
}

class QPlainTextEdit;
class QVBoxLayout;

namespace tovami::linux_backend {

class OtherMachinesPage final : public QWidget {
 public:
  explicit OtherMachinesPage(PreferenceStore& store, QWidget* parent = nullptr);
  ~OtherMachinesPage() override;

 private:
  void saveHosts();
  void showHosts();

  PreferenceStore& store_;
  QPlainTextEdit* hosts_;
  QVBoxLayout* rows_;
  int storeToken_ = 0;
  int statesToken_ = 0;
  int installsToken_ = 0;
};

}  // namespace tovami::linux_backend
