#include "app/hot_key_manager.h"

namespace tovami {

HotKeyManager::HotKeyManager(GlobalHotKeys& platform, TaskQueue& mainQueue)
    : platform_(platform), mainQueue_(mainQueue) {}

HotKeyManager::~HotKeyManager() = default;

void HotKeyManager::registerKeys() {
  if (napRef_ || islandRef_ || eventHandlerRef_) return;
  std::weak_ptr<HotKeyManager> weak = weak_from_this();
  eventHandlerRef_ = platform_.installHandler([weak](std::optional<HotKeyID> id) {
    if (auto self = weak.lock()) self->deliver(id);
  });
  if (!eventHandlerRef_) return;
  platform_.setBindingObserver([weak](HotKeyID id, HotKeyBinding binding) {
    if (auto self = weak.lock()) self->bindingChanged(id, std::move(binding));
  });
  napRef_ = registerOne(kNapCombination, kNapKeyID, napBinding_);
  if (!napRef_) {
    platform_.removeHandler(*eventHandlerRef_);
    eventHandlerRef_.reset();
    notifyBindingObservers();
    return;
  }
  islandRef_ = registerOne(kIslandCombination, kIslandKeyID, islandBinding_);
  notifyBindingObservers();
}

std::optional<GlobalHotKeys::Token> HotKeyManager::registerOne(HotKeyCombination combination,
                                                               std::uint32_t number, HotKeyBinding& binding) {
  // Pending first: a platform that answers during the call has the last word.
  binding = {};
  auto token = platform_.registerHotKey(combination, HotKeyID{kHotKeySignature, number});
  if (!token)
    binding = {HotKeyBinding::State::taken, {}};
  else if (!platform_.bindsLater())
    binding = {HotKeyBinding::State::bound, {}};
  return token;
}

void HotKeyManager::unregisterKeys() {
  // The handles are cleared too, so that a later registerKeys() registers again.
  if (napRef_) platform_.unregisterHotKey(*napRef_);
  if (islandRef_) platform_.unregisterHotKey(*islandRef_);
  if (eventHandlerRef_) platform_.removeHandler(*eventHandlerRef_);
  platform_.setBindingObserver(nullptr);
  napRef_.reset();
  islandRef_.reset();
  eventHandlerRef_.reset();
}

void HotKeyManager::bindingChanged(HotKeyID id, HotKeyBinding binding) {
  if (id.signature != kHotKeySignature) return;
  HotKeyBinding* target = id.id == kNapKeyID      ? &napBinding_
                          : id.id == kIslandKeyID ? &islandBinding_
                                                  : nullptr;
  if (!target || *target == binding) return;
  *target = std::move(binding);
  notifyBindingObservers();
}

int HotKeyManager::addBindingObserver(std::function<void()> observer) {
  bindingObservers_[nextObserver_] = std::move(observer);
  return nextObserver_++;
}

void HotKeyManager::removeBindingObserver(int token) {
  bindingObservers_.erase(token);
}

void HotKeyManager::notifyBindingObservers() {
  // On the main queue, so that an observer may add or remove observers.
  std::weak_ptr<HotKeyManager> weak = weak_from_this();
  mainQueue_.async([weak] {
    auto self = weak.lock();
    if (!self) return;
    auto observers = self->bindingObservers_;
    for (auto& [token, observer] : observers)
      if (self->bindingObservers_.count(token)) observer();
  });
}

void HotKeyManager::deliver(std::optional<HotKeyID> id) {
  const std::uint32_t number = id ? id->id : 0;
  if (platform_.pressesOnMainThread()) return handle(number);
  // On the platform's event thread: read the id, do the work on the main queue.
  std::weak_ptr<HotKeyManager> weak = weak_from_this();
  mainQueue_.async([weak, number] {
    if (auto self = weak.lock()) self->handle(number);
  });
}

void HotKeyManager::handle(std::uint32_t number) {
  // The handler current when the press is handled runs, from a copy: it may replace itself.
  const auto action = number == kIslandKeyID ? islandHandler : handler;
  if (action) action();
}

}  // namespace tovami
