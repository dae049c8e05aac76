// Global hot keys on X11: passive key grabs on the root window, one for every combination of
// the lock modifiers, delivered through Qt's native event stream.
#pragma once

#include <QAbstractNativeEventFilter>
#include <map>
#include <vector>

#include "platform/hot_keys.h"
#include "linux/x11/xcb_support.h"

namespace tovami::linux_backend {

class XcbGlobalHotKeys final : public GlobalHotKeys, public QAbstractNativeEventFilter {
 public:
  XcbGlobalHotKeys();
  ~XcbGlobalHotKeys() override;

  std::optional<Token> installHandler(std::function<void(std::optional<HotKeyID>)> onPressed) override;
  void removeHandler(Token token) override;
  std::optional<Token> registerHotKey(HotKeyCombination combination, HotKeyID id) override;
  void unregisterHotKey(Token token) override;
  // Qt's native event filter runs on the main thread.
  bool pressesOnMainThread() const override { return true; }

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

 private:
  struct Grab {
    xcb_keycode_t keycode;
    uint16_t modifiers;
    std::vector<uint16_t> variants;  // the lock combinations actually grabbed
    HotKeyID id;
  };
  void ungrab(const Grab& grab);

  xcb_connection_t* connection_ = nullptr;
  xcb_window_t root_ = 0;
  uint16_t relevantMask_ = 0;
  std::function<void(std::optional<HotKeyID>)> onPressed_;
  bool filterInstalled_ = false;
  std::map<Token, Grab> grabs_;
  Token next_ = 1;
};

}  // namespace tovami::linux_backend
