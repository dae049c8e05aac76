#include "linux/app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/log.h"

namespace tovami::linux_backend {

SingleInstance::~SingleInstance() {
  if (lockFd_ >= 0) ::close(lockFd_);
}

bool SingleInstance::claim() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (bus.isConnected() && bus.interface()) {
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = bus.interface()->registerService(
        kBusName, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid()) return reply.value() == QDBusConnectionInterface::ServiceRegistered;
    logError(log_categories::kApp, "the session bus refused the name " + std::string(kBusName) + ": " +
                                       reply.error().message().toStdString());
  }
  return lockFile();
}

bool SingleInstance::lockFile() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (!runtime || !*runtime) {
    logError(log_categories::kApp,
             "no session bus and no XDG_RUNTIME_DIR: a second Tovami cannot be detected");
    return true;
  }
  const std::string path = std::string(runtime) + "/tovami.lock";
  lockFd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lockFd_ < 0) {
    logError(log_categories::kApp,
             "cannot open " + path + ": " + std::strerror(errno) + "; a second Tovami cannot be detected");
    return true;
  }
  if (::flock(lockFd_, LOCK_EX | LOCK_NB) == 0) return true;
  const int error = errno;
  if (error == EWOULDBLOCK) return false;
  logError(log_categories::kApp, "cannot lock " + path + ": " + std::strerror(error));
  return true;
}

}  // namespace tovami::linux_backend
