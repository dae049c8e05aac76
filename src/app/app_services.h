// What the application shell asks of the long-lived services. Each accessor in AppServices
// returns the service's shared instance (creating it on first use); an accessor left empty
// means that service is not part of this build, and the steps that need it are skipped.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/hot_keys.h"

namespace tovami {

class NapControl {
 public:
  virtual ~NapControl() = default;
  virtual void startNap() = 0;
  virtual void endNap() = 0;
  virtual bool isNapping() const = 0;
  virtual void scheduleScreenRebuild() = 0;
};

class IslandControl {
 public:
  virtual ~IslandControl() = default;
  virtual void refresh() = 0;
  virtual void toggle() = 0;
  virtual void peek() = 0;
  virtual void teardown() = 0;
  virtual void screensChanged() = 0;
};

// Start/stop services: the agent watcher, the usage tracker and the approval server.
class StartStopControl {
 public:
  virtual ~StartStopControl() = default;
  virtual void start() = 0;
  virtual void stop() = 0;
};

class HookInstallControl {
 public:
  virtual ~HookInstallControl() = default;
  virtual bool install() = 0;
  virtual bool remove() = 0;
  // At launch: the same without holding up the main thread; the outcome shows in failureText().
  virtual void installInBackground() { install(); }
  // Why the last install failed, in words for the user; absent for the usual text.
  virtual std::optional<std::string> failureText() const { return std::nullopt; }
};

class HotKeyControl {
 public:
  virtual ~HotKeyControl() = default;
  virtual void setNapHandler(std::function<void()> handler) = 0;
  virtual void setIslandHandler(std::function<void()> handler) = 0;
  virtual void registerKeys() = 0;
  virtual void unregisterKeys() = 0;
  // False when the nap key cannot work (another program holds it, the desktop refused it);
  // true while the desktop has yet to answer.
  virtual bool napKeyRegistered() const { return true; }
  // What the desktop bound for each key.
  virtual HotKeyBinding napKeyBinding() const { return {HotKeyBinding::State::bound, {}}; }
  virtual HotKeyBinding islandKeyBinding() const { return {HotKeyBinding::State::bound, {}}; }
  // `observer` runs on the main queue after a binding changed; the token removes it.
  virtual int addBindingObserver(std::function<void()> observer) {
    (void)observer;
    return 0;
  }
  virtual void removeBindingObserver(int token) { (void)token; }
};

// The welcome tour's window; a new one is made for each showing.
class TourWindow {
 public:
  virtual ~TourWindow() = default;
  virtual void show() = 0;
  virtual void orderOut() = 0;
};

struct AppServices {
  std::function<NapControl*()> nap;
  std::function<IslandControl*()> island;
  std::function<StartStopControl*()> agentWatcher;
  std::function<StartStopControl*()> usageTracker;
  std::function<StartStopControl*()> approvalServer;
  std::function<HookInstallControl*()> hookInstaller;       // Claude Code's
  std::function<HookInstallControl*()> codexHookInstaller;  // Codex's
  std::function<HookInstallControl*()> statusLineInstaller;  // Claude Code's status line wrapper
  std::function<HookInstallControl*()> phonePush;            // the presence variable and its file
  std::function<std::unique_ptr<TourWindow>(HotKeyControl*)> makeTourWindow;
};

}  // namespace tovami
