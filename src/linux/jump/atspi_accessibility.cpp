#include "linux/jump/atspi_accessibility.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <atomic>
#include <set>

#include "platform/log.h"

namespace tovami::linux_backend {
namespace {

constexpr const char* kAccessible = "org.a11y.atspi.Accessible";
constexpr const char* kRegistry = "org.a11y.atspi.Registry";
constexpr const char* kRoot = "/org/a11y/atspi/accessible/root";
constexpr const char* kNullPath = "/org/a11y/atspi/null";
constexpr auto kQuietPeriod = std::chrono::seconds(10);
constexpr int kMaxChildren = 4096;
// The launcher's switch is read on the GUI thread (the tour shows it): a hung launcher costs this, no more.
constexpr int kStatusTimeoutMs = 400;

constexpr const char* kHowToEnable =
    "The accessibility bus is off. Turn it on in your desktop's accessibility settings, or with "
    "\"gsettings set org.gnome.desktop.interface toolkit-accessibility true\" and log in again; "
    "Qt programs also export their tree with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1.";

}  // namespace

// The connection to the accessibility bus and the applications that stopped answering.
class AtspiBus {
 public:
  explicit AtspiBus(int timeoutMs) : timeoutMs_(timeoutMs) {}
  ~AtspiBus() {
    if (!name_.isEmpty()) QDBusConnection::disconnectFromBus(name_);
  }

  std::optional<QDBusConnection> connection() {
    std::lock_guard lock(mutex_);
    if (!name_.isEmpty()) {
      QDBusConnection existing(name_);
      if (existing.isConnected()) return existing;
      QDBusConnection::disconnectFromBus(name_);
      name_.clear();
    }
    auto message =
        QDBusMessage::createMethodCall("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress");
    const QDBusMessage reply = QDBusConnection::sessionBus().call(message, QDBus::Block, timeoutMs_ * 4);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return std::nullopt;
    static std::atomic<int> counter{0};
    const QString name = QStringLiteral("tovami-a11y-%1").arg(counter++);
    QDBusConnection bus = QDBusConnection::connectToBus(reply.arguments().first().toString(), name);
    if (!bus.isConnected()) {
      QDBusConnection::disconnectFromBus(name);
      return std::nullopt;
    }
    name_ = name;
    return bus;
  }

  // One call; nothing on an error, a time-out, or a service that recently timed out.
  std::optional<QList<QVariant>> call(const QString& service, const QString& path, const char* interface,
                                      const char* method, const QList<QVariant>& arguments = {}) {
    if (isQuiet(service)) return std::nullopt;
    auto bus = connection();
    if (!bus) return std::nullopt;
    auto message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    const QDBusMessage reply = bus->call(message, QDBus::Block, timeoutMs_);
    if (reply.type() == QDBusMessage::ReplyMessage) return reply.arguments();
    if (reply.errorName() == "org.freedesktop.DBus.Error.NoReply" ||
        reply.errorName() == "org.freedesktop.DBus.Error.Timeout") {
      logInfo(log_categories::kAgentWatch, "accessibility: " + service.toStdString() + " does not answer");
      std::lock_guard lock(mutex_);
      quietUntil_[service] = std::chrono::steady_clock::now() + kQuietPeriod;
    }
    return std::nullopt;
  }

  std::optional<QVariant> property(const QString& service, const QString& path, const char* name) {
    auto reply =
        call(service, path, "org.freedesktop.DBus.Properties", "Get", {QString(kAccessible), QString(name)});
    if (!reply || reply->isEmpty()) return std::nullopt;
    return reply->first().value<QDBusVariant>().variant();
  }

  std::optional<int32_t> pidOf(const QString& service) {
    auto bus = connection();
    if (!bus || !bus->interface()) return std::nullopt;
    const auto reply = bus->interface()->servicePid(service);
    if (!reply.isValid()) return std::nullopt;
    return static_cast<int32_t>(reply.value());
  }

 private:
  bool isQuiet(const QString& service) {
    std::lock_guard lock(mutex_);
    auto it = quietUntil_.find(service);
    if (it == quietUntil_.end()) return false;
    if (std::chrono::steady_clock::now() < it->second) return true;
    quietUntil_.erase(it);
    return false;
  }

  std::mutex mutex_;
  int timeoutMs_;
  QString name_;
  std::map<QString, std::chrono::steady_clock::time_point> quietUntil_;
};

namespace {

std::optional<std::string> text(const std::optional<QVariant>& value) {
  if (!value) return std::nullopt;
  return value->toString().toStdString();
}

class AtspiElement final : public AccessibleElement {
 public:
  AtspiElement(std::shared_ptr<AtspiBus> bus, QString service, QString path)
      : bus_(std::move(bus)), service_(std::move(service)), path_(std::move(path)) {}

  std::optional<std::string> role() override {
    if (!roleRead_) {
      roleRead_ = true;
      auto reply = bus_->call(service_, path_, kAccessible, "GetRoleName");
      if (reply && !reply->isEmpty()) role_ = reply->first().toString().toStdString();
    }
    return role_;
  }
  AccessibleKind kind() override {
    const std::string name = role().value_or("");
    if (name == "page tab") return AccessibleKind::tab;
    if (name == "push button" || name == "toggle button") return AccessibleKind::button;
    if (name == "menu bar") return AccessibleKind::menuBar;
    return AccessibleKind::other;
  }
  std::optional<std::string> subrole() override { return std::nullopt; }
  std::optional<std::string> title() override { return text(bus_->property(service_, path_, "Name")); }
  std::optional<std::string> description() override {
    return text(bus_->property(service_, path_, "Description"));
  }
  std::optional<int> tabCount() override {
    if (role() != "page tab list") return std::nullopt;
    const auto list = children();  // scroll buttons share the list with the tabs
    if (!list) return std::nullopt;
    int tabs = 0;
    for (const auto& child : *list) tabs += child->kind() == AccessibleKind::tab;
    return tabs;
  }
  std::optional<std::vector<AccessibleRef>> children() override {
    auto reply = bus_->call(service_, path_, kAccessible, "GetChildren");
    if (!reply || reply->isEmpty() || !reply->first().canConvert<QDBusArgument>()) return std::nullopt;
    const auto argument = reply->first().value<QDBusArgument>();
    std::vector<AccessibleRef> list;
    argument.beginArray();
    while (!argument.atEnd()) {
      QString service;
      QDBusObjectPath path;
      argument.beginStructure();
      argument >> service >> path;
      argument.endStructure();
      if (path.path() != kNullPath && list.size() < kMaxChildren)
        list.push_back(std::make_shared<AtspiElement>(bus_, service, path.path()));
    }
    argument.endArray();
    return list;
  }
  bool perform(const std::string& action) override {
    if (action != accessible_actions::kPress) return false;  // AT-SPI windows cannot raise themselves
    auto reply = bus_->call(service_, path_, "org.a11y.atspi.Action", "DoAction", {QVariant::fromValue(0)});
    return reply && !reply->isEmpty() && reply->first().toBool();
  }

  const QString& service() const { return service_; }

 private:
  std::shared_ptr<AtspiBus> bus_;
  QString service_;
  QString path_;
  bool roleRead_ = false;
  std::optional<std::string> role_;
};

}  // namespace

AtspiAccessibility::AtspiAccessibility(int callTimeoutMs) : bus_(std::make_shared<AtspiBus>(callTimeoutMs)) {}
AtspiAccessibility::~AtspiAccessibility() = default;

bool AtspiAccessibility::isTrusted() {
  auto message = QDBusMessage::createMethodCall("org.a11y.Bus", "/org/a11y/bus",
                                                "org.freedesktop.DBus.Properties", "Get");
  message.setArguments({QString("org.a11y.Status"), QString("IsEnabled")});
  const QDBusMessage reply = QDBusConnection::sessionBus().call(message, QDBus::Block, kStatusTimeoutMs);
  return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
         reply.arguments().first().value<QDBusVariant>().variant().toBool();
}

// Turns the accessibility bus on where the desktop lets a program do so (the bus launcher stores
// the switch in the desktop's settings); otherwise says how to do it by hand.
void AtspiAccessibility::requestTrust() {
  auto message = QDBusMessage::createMethodCall("org.a11y.Bus", "/org/a11y/bus",
                                                "org.freedesktop.DBus.Properties", "Set");
  message.setArguments(
      {QString("org.a11y.Status"), QString("IsEnabled"), QVariant::fromValue(QDBusVariant(true))});
  const QDBusMessage reply = QDBusConnection::sessionBus().call(message, QDBus::Block, kStatusTimeoutMs);
  if (reply.type() == QDBusMessage::ReplyMessage && isTrusted()) {
    logInfo(log_categories::kAgentWatch, "accessibility bus turned on");
    return;
  }
  logInfo(log_categories::kAgentWatch, kHowToEnable);
}

std::string AtspiAccessibility::howToEnable() {
  return kHowToEnable;
}

std::vector<AccessibleRef> AtspiAccessibility::applications() {
  AtspiElement desktop(bus_, kRegistry, kRoot);
  return desktop.children().value_or(std::vector<AccessibleRef>{});
}

AccessibleRef AtspiAccessibility::application(int32_t pid) {
  for (const auto& candidate : applications())
    if (bus_->pidOf(static_cast<AtspiElement&>(*candidate).service()) == pid) return candidate;
  return nullptr;
}

AccessibleRef AtspiAccessibility::applicationNamed(const std::string& name) {
  for (const auto& candidate : applications())
    if (candidate->title() == name) return candidate;
  return nullptr;
}

std::vector<AccessibleRef> AtspiAccessibility::windows(const AccessibleRef& application) {
  if (!application) return {};
  return application->children().value_or(std::vector<AccessibleRef>{});
}

}  // namespace tovami::linux_backend
