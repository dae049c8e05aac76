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
  napRef_ = platform_.registerHotKey(kNapCombination, HotKeyID{kHotKeySignature, kNapKeyID});
  if (!napRef_) {
    platform_.removeHandler(*eventHandlerRef_);
    eventHandlerRef_.reset();
    return;
  }
  islandRef_ = platform_.registerHotKey(kIslandCombination, HotKeyID{kHotKeySignature, kIslandKeyID});
}

void HotKeyManager::unregisterKeys() {
  // The handles are cleared too, so that a later registerKeys() registers again.
  if (napRef_) platform_.unregisterHotKey(*napRef_);
  if (islandRef_) platform_.unregisterHotKey(*islandRef_);
  if (eventHandlerRef_) platform_.removeHandler(*eventHandlerRef_);
  napRef_.reset();
  islandRef_.reset();
  eventHandlerRef_.reset();
}

void HotKeyManager::deliver(std::optional<HotKeyID> id) {
  // Runs on the platform's event thread: read the id, do the work on the main queue.
  const std::uint32_t number = id ? id->id : 0;
  std::weak_ptr<HotKeyManager> weak = weak_from_this();
  mainQueue_.async([weak, number] {
    auto self = weak.lock();
    if (!self) return;
    // The latest handler at the time of the press's delivery runs.
    auto action = number == kIslandKeyID ? self->islandHandler : self->handler;
    if (action) action();
  });
}

}  // namespace tovami
