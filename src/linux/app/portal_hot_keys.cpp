#include "linux/app/portal_hot_keys.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QTimer>
#include <algorithm>
#include <utility>

#include "platform/log.h"

namespace {

// One entry of the portal's a(sa{sv}) shortcut lists: the id and its properties.
struct PortalShortcut {
  QString id;
  QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut) {
  argument.beginStructure();
  argument << shortcut.id << shortcut.properties;
  argument.endStructure();
  return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut) {
  argument.beginStructure();
  argument >> shortcut.id >> shortcut.properties;
  argument.endStructure();
  return argument;
}

}  // namespace

Q_DECLARE_METATYPE(PortalShortcut)

namespace tovami::linux_backend {
namespace {

constexpr const char* kPortal = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kShortcuts = "org.freedesktop.portal.GlobalShortcuts";
constexpr const char* kRequest = "org.freedesktop.portal.Request";
constexpr const char* kSession = "org.freedesktop.portal.Session";
constexpr const char* kRegistry = "org.freedesktop.host.portal.Registry";
constexpr int kOfferedTimeoutMs = 3000;
constexpr int kRegistryTimeoutMs = 2000;

void log(const std::string& text) {
  logInfo(log_categories::kApp, "hot keys (portal): " + text);
}

QString shortcutId(const HotKeyCombination& combination, HotKeyID id) {
  return *combination.name ? QString::fromUtf8(combination.name) : QStringLiteral("key%1").arg(id.id);
}

// The portal's text values come as a string or an object path, depending on its version.
QString textOf(const QVariant& value) {
  if (value.metaType() == QMetaType::fromType<QDBusObjectPath>())
    return value.value<QDBusObjectPath>().path();
  return value.toString();
}

QVariantMap mapOf(const QVariant& value) {
  if (value.metaType() == QMetaType::fromType<QDBusArgument>()) return qdbus_cast<QVariantMap>(value);
  return value.toMap();
}

std::optional<QList<PortalShortcut>> shortcutsOf(const QVariant& value) {
  if (value.metaType() != QMetaType::fromType<QDBusArgument>()) return std::nullopt;
  const auto argument = value.value<QDBusArgument>();
  if (argument.currentSignature() != QLatin1String("a(sa{sv})")) return std::nullopt;
  return qdbus_cast<QList<PortalShortcut>>(argument);
}

}  // namespace

PortalGlobalHotKeys::PortalGlobalHotKeys(QString appId)
    : appId_(std::move(appId)),
      watcher_(kPortal, QDBusConnection::sessionBus(), QDBusServiceWatcher::WatchForOwnerChange) {
  qDBusRegisterMetaType<PortalShortcut>();
  qDBusRegisterMetaType<QList<PortalShortcut>>();
  auto bus = QDBusConnection::sessionBus();
  bus.connect(kPortal, kPortalPath, kShortcuts, "Activated", this, SLOT(activated(QDBusMessage)));
  bus.connect(kPortal, kPortalPath, kShortcuts, "ShortcutsChanged", this,
              SLOT(shortcutsChanged(QDBusMessage)));
  connect(&watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
          [this](const QString&, const QString& oldOwner, const QString& newOwner) {
            if (!oldOwner.isEmpty()) portalGone();
            if (!newOwner.isEmpty()) portalBack();
          });
  registerApplication();
}

PortalGlobalHotKeys::~PortalGlobalHotKeys() {
  // Closing the session releases the keys at once rather than when our bus name goes.
  if (!session_.isEmpty())
    QDBusConnection::sessionBus().send(QDBusMessage::createMethodCall(kPortal, session_, kSession, "Close"));
}

bool PortalGlobalHotKeys::offered() {
  auto bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  auto call = QDBusMessage::createMethodCall(kPortal, kPortalPath, "org.freedesktop.DBus.Properties", "Get");
  call << QString::fromLatin1(kShortcuts) << QStringLiteral("version");
  const QDBusMessage reply = bus.call(call, QDBus::Block, kOfferedTimeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage) {
    log("not offered (" + reply.errorName().toStdString() + ")");
    return false;
  }
  const QVariant version = reply.arguments().value(0).value<QDBusVariant>().variant();
  log("offered, version " + version.toString().toStdString());
  return true;
}

QString PortalGlobalHotKeys::preferredTrigger(HotKeyCombination combination) {
  QString trigger;
  if (combination.modifiers & hot_key_modifiers::kCommand) trigger += "CTRL+";
  if (combination.modifiers & hot_key_modifiers::kOption) trigger += "ALT+";
  return trigger + QChar(combination.letter).toLower();
}

// Recent portals learn who calls from this registration and refuse applications without an id.
// It must come before any other portal call of this connection; older portals lack it.
void PortalGlobalHotKeys::registerApplication() {
  auto call = QDBusMessage::createMethodCall(kPortal, kPortalPath, kRegistry, "Register");
  call << appId_ << QVariantMap();
  const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, kRegistryTimeoutMs);
  if (reply.type() == QDBusMessage::ReplyMessage)
    log("registered as " + appId_.toStdString());
  else if (reply.errorName() == "org.freedesktop.DBus.Error.UnknownMethod" ||
           reply.errorName() == "org.freedesktop.DBus.Error.UnknownInterface")
    log("the portal has no host registry; it finds the application by itself");
  else
    logError(log_categories::kApp, "hot keys (portal): registering " + appId_.toStdString() +
                                       " failed: " + reply.errorMessage().toStdString());
}

std::optional<GlobalHotKeys::Token> PortalGlobalHotKeys::installHandler(
    std::function<void(std::optional<HotKeyID>)> onPressed) {
  if (!QDBusConnection::sessionBus().isConnected()) return std::nullopt;
  onPressed_ = std::move(onPressed);
  return 0;
}

void PortalGlobalHotKeys::removeHandler(Token) {
  onPressed_ = nullptr;
}

void PortalGlobalHotKeys::setBindingObserver(std::function<void(HotKeyID, HotKeyBinding)> observer) {
  observer_ = std::move(observer);
}

std::optional<GlobalHotKeys::Token> PortalGlobalHotKeys::registerHotKey(HotKeyCombination combination,
                                                                        HotKeyID id) {
  if (combination.letter < 'A' || combination.letter > 'Z') return std::nullopt;
  const Token token = next_++;
  keys_[token] = Key{combination, id, {}};
  scheduleBind();
  return token;
}

void PortalGlobalHotKeys::unregisterHotKey(Token token) {
  // The portal has no way to drop one key of a session; the key is simply no longer delivered.
  keys_.erase(token);
}

// Keys registered one after another go to the desktop in one request (one dialog at most).
void PortalGlobalHotKeys::scheduleBind() {
  if (bindScheduled_) return;
  bindScheduled_ = true;
  QTimer::singleShot(0, this, [this] {
    bindScheduled_ = false;
    if (keys_.empty()) return;
    if (phase_ == Phase::idle) return createSession();
    if (phase_ == Phase::bound) return bind();
    // Creating binds every key once the session exists; otherwise bind again after the answer.
    if (phase_ != Phase::creating) rebindWanted_ = true;
  });
}

bool PortalGlobalHotKeys::sendRequest(QDBusMessage call, const char* what) {
  auto bus = QDBusConnection::sessionBus();
  // The answer comes as a Response signal on a request object whose path we can predict: listen
  // there before calling, so that a quick answer is not missed.
  QString sender = bus.baseService().mid(1);
  sender.replace('.', '_');
  const QString token = QStringLiteral("tovami%1").arg(++tokens_);
  forgetRequest();
  request_ = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
  bus.connect(kPortal, request_, kRequest, "Response", this, SLOT(requestAnswered(QDBusMessage)));
  QList<QVariant> arguments = call.arguments();
  QVariantMap options = arguments.takeLast().toMap();
  options.insert("handle_token", token);
  // Stable: KDE Plasma 5.27 names the application's shortcut group after it, so the keys the user
  // set there stay with the next session.
  if (call.member() == "CreateSession") options.insert("session_handle_token", QStringLiteral("tovami"));
  arguments << options;
  call.setArguments(arguments);
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, what](QDBusPendingCallWatcher*) {
    watcher->deleteLater();
    QDBusPendingReply<QDBusObjectPath> reply = *watcher;
    if (reply.isError()) {
      logError(log_categories::kApp, std::string("hot keys (portal): ") + what +
                                         " failed: " + reply.error().message().toStdString());
      forgetRequest();
      if (phase_ == Phase::listing) {  // the keys stay as they were
        phase_ = Phase::bound;
        return;
      }
      phase_ = Phase::closed;
      reportAll(HotKeyBinding::State::refused);
    }
  });
  return true;
}

void PortalGlobalHotKeys::forgetRequest() {
  if (request_.isEmpty()) return;
  QDBusConnection::sessionBus().disconnect(kPortal, request_, kRequest, "Response", this,
                                           SLOT(requestAnswered(QDBusMessage)));
  request_.clear();
}

void PortalGlobalHotKeys::createSession() {
  phase_ = Phase::creating;
  auto call = QDBusMessage::createMethodCall(kPortal, kPortalPath, kShortcuts, "CreateSession");
  call << QVariantMap();
  sendRequest(call, "CreateSession");
}

void PortalGlobalHotKeys::bind() {
  phase_ = Phase::binding;
  QList<PortalShortcut> shortcuts;
  for (const auto& [token, key] : keys_) {
    shortcuts << PortalShortcut{shortcutId(key.combination, key.id),
                                {{"description", QString::fromUtf8(key.combination.description)},
                                 {"preferred_trigger", preferredTrigger(key.combination)}}};
  }
  auto call = QDBusMessage::createMethodCall(kPortal, kPortalPath, kShortcuts, "BindShortcuts");
  call << QVariant::fromValue(QDBusObjectPath(session_)) << QVariant::fromValue(shortcuts) << QString()
       << QVariantMap();
  sendRequest(call, "BindShortcuts");
}

void PortalGlobalHotKeys::listShortcuts() {
  phase_ = Phase::listing;
  auto call = QDBusMessage::createMethodCall(kPortal, kPortalPath, kShortcuts, "ListShortcuts");
  call << QVariant::fromValue(QDBusObjectPath(session_)) << QVariantMap();
  sendRequest(call, "ListShortcuts");
}

void PortalGlobalHotKeys::requestAnswered(const QDBusMessage& message) {
  if (message.path() != request_) return;
  forgetRequest();
  const QList<QVariant> arguments = message.arguments();  // response, results
  const uint response = arguments.value(0).toUInt();
  const QVariantMap results = mapOf(arguments.value(1));
  if (phase_ == Phase::creating) return sessionCreated(response, results);
  if (phase_ == Phase::binding) return bound(response, results);
  if (phase_ == Phase::listing) {
    phase_ = Phase::bound;
    if (response == 0) applyTriggers(results.value("shortcuts"), false);
    if (std::exchange(rebindWanted_, false)) bind();
  }
}

void PortalGlobalHotKeys::sessionCreated(uint response, const QVariantMap& results) {
  session_ = textOf(results.value("session_handle"));
  if (response != 0 || session_.isEmpty()) {
    log("the desktop declined a session (response " + std::to_string(response) + ")");
    session_.clear();
    phase_ = Phase::closed;
    return reportAll(HotKeyBinding::State::refused);
  }
  QDBusConnection::sessionBus().connect(kPortal, session_, kSession, "Closed", this,
                                        SLOT(sessionClosed(QDBusMessage)));
  bind();
}

void PortalGlobalHotKeys::bound(uint response, const QVariantMap& results) {
  if (response != 0) {
    // 1: the user cancelled the desktop's dialog; 2: the desktop refused.
    log("the desktop declined the keys (response " + std::to_string(response) + ")");
    phase_ = Phase::bound;  // the session stays: a later registration may ask again
    rebindWanted_ = false;
    return reportAll(HotKeyBinding::State::refused);
  }
  phase_ = Phase::bound;
  applyTriggers(results.value("shortcuts"), true);
  if (std::exchange(rebindWanted_, false)) bind();
}

// `complete`: the answer to a binding, which names every key that has keys. Plasma 5.27 answers
// with an empty list until the user assigns keys in its shortcut settings, which it opens.
void PortalGlobalHotKeys::applyTriggers(const QVariant& value, bool complete) {
  const auto shortcuts = shortcutsOf(value);
  if (!shortcuts) {
    log("unreadable shortcut list: " + std::string(value.typeName() ? value.typeName() : "nothing"));
    if (complete) reportAll(HotKeyBinding::State::refused);
    return;
  }
  for (auto& [token, key] : keys_) {
    const QString id = shortcutId(key.combination, key.id);
    auto found = std::find_if(shortcuts->begin(), shortcuts->end(),
                              [&id](const PortalShortcut& shortcut) { return shortcut.id == id; });
    if (found == shortcuts->end()) {
      if (complete) report(key, {HotKeyBinding::State::noKeys, {}});
      continue;
    }
    const QString trigger = found->properties.value("trigger_description").toString().trimmed();
    report(key, trigger.isEmpty() ? HotKeyBinding{HotKeyBinding::State::noKeys, {}}
                                  : HotKeyBinding{HotKeyBinding::State::bound, trigger.toStdString()});
  }
}

void PortalGlobalHotKeys::report(Key& key, HotKeyBinding binding) {
  if (key.binding == binding) return;
  key.binding = binding;
  std::string what = key.combination.name;
  switch (binding.state) {
    case HotKeyBinding::State::bound:
      log(what + " key bound to " + binding.trigger);
      break;
    case HotKeyBinding::State::noKeys:
      log(what + " key accepted without keys");
      break;
    case HotKeyBinding::State::unnamed:
      log(what + " key pressed with keys the desktop does not name");
      break;
    case HotKeyBinding::State::refused:
      log(what + " key refused");
      break;
    default:
      log(what + " key waiting for the desktop");
      break;
  }
  if (observer_) observer_(key.id, std::move(binding));
}

void PortalGlobalHotKeys::reportAll(HotKeyBinding::State state) {
  for (auto& [token, key] : keys_) report(key, {state, {}});
}

void PortalGlobalHotKeys::activated(const QDBusMessage& message) {
  const QList<QVariant> arguments = message.arguments();  // session, shortcut id, timestamp, options
  if (arguments.size() < 2 || textOf(arguments[0]) != session_ || session_.isEmpty()) return;
  const QString id = arguments[1].toString();
  for (auto& [token, key] : keys_) {
    if (shortcutId(key.combination, key.id) == id) {
      // Keys assigned in the desktop's settings without a ShortcutsChanged (Plasma 5.27): ask
      // which ones, so that the windows name them.
      if (key.binding.state != HotKeyBinding::State::bound && phase_ == Phase::bound) {
        report(key, {HotKeyBinding::State::unnamed, {}});  // the list may name them
        listShortcuts();
      }
      if (onPressed_) onPressed_(key.id);
      return;
    }
  }
}

// The user changed the keys in the desktop's settings.
void PortalGlobalHotKeys::shortcutsChanged(const QDBusMessage& message) {
  const QList<QVariant> arguments = message.arguments();  // session, shortcuts
  if (arguments.size() < 2 || textOf(arguments[0]) != session_ || session_.isEmpty()) return;
  applyTriggers(arguments[1], false);
}

void PortalGlobalHotKeys::sessionClosed(const QDBusMessage& message) {
  if (message.path() != session_) return;
  log("the desktop closed the session");
  session_.clear();
  phase_ = Phase::closed;
  reportAll(HotKeyBinding::State::refused);
}

// A portal that ends takes the session and its keys with it.
void PortalGlobalHotKeys::portalGone() {
  log("the portal left the bus; the keys wait for it");
  forgetRequest();
  session_.clear();
  phase_ = Phase::idle;
  reportAll(HotKeyBinding::State::pending);
}

void PortalGlobalHotKeys::portalBack() {
  if (phase_ != Phase::idle) return;
  log("the portal is back; binding again");
  registerApplication();
  scheduleBind();
}

}  // namespace tovami::linux_backend
