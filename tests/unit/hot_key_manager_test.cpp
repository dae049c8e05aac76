#include "app/hot_key_manager.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "support/virtual_dispatcher.h"

namespace tovami {
namespace {

class FakeHotKeys final : public GlobalHotKeys {
 public:
  std::set<char> ownedElsewhere;
  std::function<void(std::optional<HotKeyID>)> onPressed;
  std::map<Token, char> registered;
  int handlers = 0;

  std::optional<Token> installHandler(std::function<void(std::optional<HotKeyID>)> fn) override {
    onPressed = std::move(fn);
    return ++handlers;
  }
  void removeHandler(Token) override { --handlers; }
  std::optional<Token> registerHotKey(HotKeyCombination combination, HotKeyID) override {
    if (ownedElsewhere.count(combination.letter)) return std::nullopt;
    registered[next_] = combination.letter;
    return next_++;
  }
  void unregisterHotKey(Token token) override { registered.erase(token); }
  void press(std::uint32_t id) { onPressed(HotKeyID{0x54564D49u, id}); }

 private:
  Token next_ = 1;
};

class HotKeyManagerTest : public ::testing::Test {
 protected:
  testing::VirtualDispatcher dispatcher;
  FakeHotKeys platform;
  std::shared_ptr<HotKeyManager> manager = std::make_shared<HotKeyManager>(platform, dispatcher.mainQueue());
  int naps = 0, islands = 0;
  void installActions() {
    manager->handler = [this] { ++naps; };
    manager->islandHandler = [this] { ++islands; };
  }
};

TEST_F(HotKeyManagerTest, DeliversEachKeyOnTheMainQueueToItsCurrentHandlerUntilUnregistered) {
  installActions();
  manager->registerKeys();
  manager->registerKeys();  // harmless
  EXPECT_EQ(platform.registered.size(), 2u);
  EXPECT_EQ(platform.handlers, 1);

  platform.press(1);
  EXPECT_EQ(naps, 0);  // not on the event thread
  platform.press(2);
  platform.onPressed(std::nullopt);  // an unreadable id counts as the nap key
  dispatcher.runUntilIdle();
  EXPECT_EQ(naps, 2);
  EXPECT_EQ(islands, 1);
  manager->handler = [&] { naps += 10; };
  platform.press(1);
  dispatcher.runUntilIdle();
  EXPECT_EQ(naps, 12);

  auto onPressed = platform.onPressed;
  manager->unregisterKeys();
  EXPECT_TRUE(platform.registered.empty());
  EXPECT_EQ(platform.handlers, 0);
  manager.reset();
  onPressed(HotKeyID{0, 1});  // a press after destruction is ignored
  dispatcher.runUntilIdle();
  EXPECT_EQ(naps, 12);
}

TEST_F(HotKeyManagerTest, WithoutTheNapKeyNothingIsRegisteredButTheIslandKeyIsOptional) {
  platform.ownedElsewhere = {'N'};
  manager->registerKeys();
  EXPECT_FALSE(manager->isNapKeyRegistered() || manager->isIslandKeyRegistered() || manager->hasEventHandler());
  EXPECT_TRUE(platform.registered.empty());
  EXPECT_EQ(platform.handlers, 0);

  // A later attempt may succeed; without the island key the nap key still works.
  installActions();
  platform.ownedElsewhere = {'A'};
  manager->registerKeys();
  EXPECT_TRUE(manager->isNapKeyRegistered());
  EXPECT_FALSE(manager->isIslandKeyRegistered());
  platform.press(1);
  dispatcher.runUntilIdle();
  EXPECT_EQ(naps, 1);
}

}  // namespace
}  // namespace tovami
