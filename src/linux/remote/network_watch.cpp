#include "linux/remote/network_watch.h"

#include <QDBusConnection>

namespace tovami::linux_backend {

NetworkWatch::NetworkWatch(std::function<void()> changed) : changed_(std::move(changed)) {
  auto bus = QDBusConnection::systemBus();
  if (!bus.isConnected()) return;
  bus.connect({}, "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep", this,
              SLOT(prepareForSleep(bool)));
  bus.connect({}, "/org/freedesktop/NetworkManager", "org.freedesktop.NetworkManager", "StateChanged", this,
              SLOT(networkState(uint)));
}

void NetworkWatch::prepareForSleep(bool starting) {
  if (!starting) changed_();
}

void NetworkWatch::networkState(uint state) {
  constexpr uint kConnectedGlobal = 70;  // NM_STATE_CONNECTED_GLOBAL
  if (state == kConnectedGlobal) changed_();
}

}  // namespace tovami::linux_backend
