// Tells when the links to other machines should try again at once: the machine woke from sleep
// (logind's PrepareForSleep(false)) or NetworkManager reached full connectivity. A spoofed signal
// costs only an early try, so any sender is heard.
#pragma once

#include <QObject>
#include <functional>

namespace tovami::linux_backend {

class NetworkWatch final : public QObject {
  Q_OBJECT
 public:
  explicit NetworkWatch(std::function<void()> changed);

 private slots:
  void prepareForSleep(bool starting);
  void networkState(uint state);

 private:
  std::function<void()> changed_;
};

}  // namespace tovami::linux_backend
