#include "linux/nap/desktop_motion_settings.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QProcess>
#include <QStandardPaths>
#include <chrono>
#include <mutex>

namespace tovami::linux_backend {
namespace {

constexpr const char* kSchema = "org.gnome.desktop.interface";
constexpr const char* kKey = "enable-animations";
constexpr int kPortalTimeoutMs = 400;
constexpr int kGsettingsTimeoutMs = 500;
// A nap builds one window per display at once: they share one reading.
constexpr auto kReadingLifetime = std::chrono::seconds(2);

}  // namespace

bool DesktopMotionSettings::reduceMotion() const {
  static std::mutex mutex;
  static std::optional<std::chrono::steady_clock::time_point> readAt;
  static bool reduce = false;
  std::lock_guard lock(mutex);
  const auto now = std::chrono::steady_clock::now();
  if (readAt && now - *readAt < kReadingLifetime) return reduce;
  std::optional<bool> animations = readPortal();
  if (!animations) animations = readGsettings();
  reduce = animations.has_value() && !*animations;
  readAt = now;
  return reduce;
}

std::optional<bool> DesktopMotionSettings::animationsFromPortalReply(const QVariant& reply) {
  QVariant value = reply;
  // Read() wraps the value in one variant more than ReadOne(); unwrap whatever comes.
  for (int depth = 0; depth < 4; ++depth) {
    if (value.canConvert<QDBusVariant>() && value.metaType() == QMetaType::fromType<QDBusVariant>()) {
      value = value.value<QDBusVariant>().variant();
      continue;
    }
    if (value.metaType() == QMetaType::fromType<QDBusArgument>()) {
      const auto argument = value.value<QDBusArgument>();
      if (argument.currentType() != QDBusArgument::VariantType) return std::nullopt;
      QDBusVariant inner;
      argument >> inner;
      value = inner.variant();
      continue;
    }
    break;
  }
  if (value.metaType() == QMetaType::fromType<bool>()) return value.toBool();
  return std::nullopt;
}

std::optional<bool> DesktopMotionSettings::animationsFromGsettingsOutput(const QByteArray& output) {
  const QByteArray text = output.trimmed();
  if (text == "true") return true;
  if (text == "false") return false;
  return std::nullopt;
}

std::optional<bool> DesktopMotionSettings::readPortal() {
  auto bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return std::nullopt;
  for (const char* method : {"ReadOne", "Read"}) {
    auto call =
        QDBusMessage::createMethodCall("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                                       "org.freedesktop.portal.Settings", method);
    call << QString::fromLatin1(kSchema) << QString::fromLatin1(kKey);
    const QDBusMessage reply = bus.call(call, QDBus::Block, kPortalTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
      // No portal at all: trying the older method would only wait again.
      if (reply.errorName() == "org.freedesktop.DBus.Error.ServiceUnknown" ||
          reply.errorName() == "org.freedesktop.DBus.Error.NoReply")
        return std::nullopt;
      continue;
    }
    if (auto value = animationsFromPortalReply(reply.arguments().first())) return value;
  }
  return std::nullopt;
}

std::optional<bool> DesktopMotionSettings::readGsettings() {
  const QString program = QStandardPaths::findExecutable("gsettings");
  if (program.isEmpty()) return std::nullopt;
  QProcess process;
  process.setStandardErrorFile(QProcess::nullDevice());
  process.start(program, {"get", kSchema, kKey});
  if (!process.waitForFinished(kGsettingsTimeoutMs)) {
    process.kill();
    process.waitForFinished(200);
    return std::nullopt;
  }
  if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) return std::nullopt;
  return animationsFromGsettingsOutput(process.readAllStandardOutput().left(64));
}

}  // namespace tovami::linux_backend
