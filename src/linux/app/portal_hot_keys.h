// Global hot keys in a Wayland session: the desktop's GlobalShortcuts portal on the session bus.
// One portal session holds every key. The desktop may ask the user first, bind other keys than
// the ones asked for, change them later, or restart; each answer is reported as a binding.
#pragma once

#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QString>
#include <map>

#include "platform/hot_keys.h"

namespace tovami::linux_backend {

class PortalGlobalHotKeys final : public QObject, public GlobalHotKeys {
  Q_OBJECT

 public:
  // `appId`: the desktop file's id, which the portal's host registry needs before anything else.
  explicit PortalGlobalHotKeys(QString appId);
  ~PortalGlobalHotKeys() override;

  // Whether the session bus has a portal offering GlobalShortcuts (asked once, at most 3 s).
  static bool offered();
  // The portal's spelling of a combination ("CTRL+ALT+n").
  static QString preferredTrigger(HotKeyCombination combination);

  std::optional<Token> installHandler(std::function<void(std::optional<HotKeyID>)> onPressed) override;
  void removeHandler(Token token) override;
  std::optional<Token> registerHotKey(HotKeyCombination combination, HotKeyID id) override;
  void unregisterHotKey(Token token) override;
  void setBindingObserver(std::function<void(HotKeyID, HotKeyBinding)> observer) override;
  bool bindsLater() const override { return true; }

 public slots:  // D-Bus delivers signals to public slots only
  void requestAnswered(const QDBusMessage& message);
  void activated(const QDBusMessage& message);
  void shortcutsChanged(const QDBusMessage& message);
  void sessionClosed(const QDBusMessage& message);

 private:
  struct Key {
    HotKeyCombination combination;
    HotKeyID id;
    HotKeyBinding binding;
  };
  enum class Phase { idle, creating, binding, bound, listing, closed };

  void registerApplication();
  void scheduleBind();
  void createSession();
  void bind();
  void listShortcuts();
  bool sendRequest(QDBusMessage call, const char* what);
  void sessionCreated(uint response, const QVariantMap& results);
  void bound(uint response, const QVariantMap& results);
  void applyTriggers(const QVariant& shortcuts, bool complete);
  void reportAll(HotKeyBinding::State state);
  void report(Key& key, HotKeyBinding binding);
  void portalGone();
  void portalBack();
  void forgetRequest();

  QString appId_;
  std::function<void(std::optional<HotKeyID>)> onPressed_;
  std::function<void(HotKeyID, HotKeyBinding)> observer_;
  std::map<Token, Key> keys_;
  Token next_ = 1;
  Phase phase_ = Phase::idle;
  bool bindScheduled_ = false;
  bool rebindWanted_ = false;  // a key came while a request ran
  QString session_;
  QString request_;  // the request object whose Response is awaited
  unsigned tokens_ = 0;
  QDBusServiceWatcher watcher_;
};

}  // namespace tovami::linux_backend
