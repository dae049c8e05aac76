#include "app/hot_key_manager.h"

#include <gtest/gtest.h>

#include <map>

#include "support/virtual_dispatcher.h"

namespace tovami {
namespace {

class FakeHotKeys final : public GlobalHotKeys {
 public:
  std::function<void(std::optional<HotKeyID>)> onPressed;
  std::map<Token, char> registered;
  int handlers = 0;

  std::optional<Token> installHandler(std::function<void(std::optional<HotKeyID>)> fn) override {
    onPressed = std::move(fn);
    return ++handlers;
  }
  void removeHandler(Token) override { --handlers; }
  std::optional<Token> registerHotKey(HotKeyCombination combination, HotKeyID) override {
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

// A combination owned by another client is the nap integration test's: with real grabs it checks
// that without the nap key neither key is held, and that the nap key works without the island key.

}  // namespace
}  // namespace tovami
