// The two system-wide key combinations: the nap key starts a nap, the island key opens or
// closes the island. The manager only delivers the presses, on the main thread; its owner
// decides what they do through `handler` and `islandHandler`, replaceable at any time.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "app/app_services.h"
#include "platform/hot_keys.h"
#include "platform/scheduler.h"

namespace tovami {

constexpr std::uint32_t fourCharCode(const char (&code)[5]) {
  return (std::uint32_t(std::uint8_t(code[0])) << 24) | (std::uint32_t(std::uint8_t(code[1])) << 16) |
         (std::uint32_t(std::uint8_t(code[2])) << 8) | std::uint32_t(std::uint8_t(code[3]));
}

class HotKeyManager : public std::enable_shared_from_this<HotKeyManager> {
 public:
  static constexpr std::uint32_t kHotKeySignature = fourCharCode("TVMI");
  static constexpr std::uint32_t kNapKeyID = 1;
  static constexpr std::uint32_t kIslandKeyID = 2;
  static constexpr HotKeyCombination kNapCombination{
      'N', hot_key_modifiers::kCommand | hot_key_modifiers::kOption, "nap", "Start a nap"};
  static constexpr HotKeyCombination kIslandCombination{
      'A', hot_key_modifiers::kCommand | hot_key_modifiers::kOption, "island", "Open or close the island"};

  // Create with std::make_shared: presses reach the manager weakly.
  HotKeyManager(GlobalHotKeys& platform, TaskQueue& mainQueue);
  ~HotKeyManager();

  std::function<void()> handler;
  std::function<void()> islandHandler;

  // Installs the handler and both keys; silent on failure. Without the nap key nothing stays
  // registered; without the island key the nap key still works.
  void registerKeys();
  void unregisterKeys();

  bool isNapKeyRegistered() const { return napRef_.has_value(); }
  bool isIslandKeyRegistered() const { return islandRef_.has_value(); }
  bool hasEventHandler() const { return eventHandlerRef_.has_value(); }
  // What the desktop made of each key (taken when it could not be registered at all).
  const HotKeyBinding& napBinding() const { return napBinding_; }
  const HotKeyBinding& islandBinding() const { return islandBinding_; }
  int addBindingObserver(std::function<void()> observer);
  void removeBindingObserver(int token);

 private:
  void deliver(std::optional<HotKeyID> id);
  void handle(std::uint32_t number);
  void bindingChanged(HotKeyID id, HotKeyBinding binding);
  std::optional<GlobalHotKeys::Token> registerOne(HotKeyCombination combination, std::uint32_t number,
                                                  HotKeyBinding& binding);
  void notifyBindingObservers();

  GlobalHotKeys& platform_;
  TaskQueue& mainQueue_;
  std::optional<GlobalHotKeys::Token> napRef_;
  std::optional<GlobalHotKeys::Token> islandRef_;
  std::optional<GlobalHotKeys::Token> eventHandlerRef_;
  HotKeyBinding napBinding_;
  HotKeyBinding islandBinding_;
  std::map<int, std::function<void()>> bindingObservers_;
  int nextObserver_ = 1;
};

// The manager as the application delegate sees it.
class HotKeyManagerControl final : public HotKeyControl {
 public:
  explicit HotKeyManagerControl(std::shared_ptr<HotKeyManager> manager) : manager_(std::move(manager)) {}
  void setNapHandler(std::function<void()> handler) override { manager_->handler = std::move(handler); }
  void setIslandHandler(std::function<void()> handler) override {
    manager_->islandHandler = std::move(handler);
  }
  void registerKeys() override { manager_->registerKeys(); }
  void unregisterKeys() override { manager_->unregisterKeys(); }
  bool napKeyRegistered() const override {
    using State = HotKeyBinding::State;
    const State state = manager_->napBinding().state;
    return manager_->isNapKeyRegistered() &&
           (state == State::bound || state == State::pending || state == State::unnamed);
  }
  HotKeyBinding napKeyBinding() const override { return manager_->napBinding(); }
  HotKeyBinding islandKeyBinding() const override { return manager_->islandBinding(); }
  int addBindingObserver(std::function<void()> observer) override {
    return manager_->addBindingObserver(std::move(observer));
  }
  void removeBindingObserver(int token) override { manager_->removeBindingObserver(token); }
  HotKeyManager& manager() { return *manager_; }

 private:
  std::shared_ptr<HotKeyManager> manager_;
};

}  // namespace tovami
