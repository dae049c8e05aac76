#include "app/hot_key_manager.h"

#include <gtest/gtest.h>

#include <map>

#include "app/hot_key_texts.h"
#include "support/virtual_dispatcher.h"

namespace tovami {
namespace {

class FakeHotKeys final : public GlobalHotKeys {
 public:
  std::function<void(std::optional<HotKeyID>)> onPressed;
  std::map<Token, char> registered;
  int handlers = 0;
  bool later = false;         // binds like a desktop portal: the answer comes afterwards
  bool refuseNapKey = false;  // another client owns the nap key (an X11 grab)
  bool mainThread = false;    // presses arrive on the main thread (an X11 event filter)
  std::function<void(HotKeyID, HotKeyBinding)> observer;

  std::optional<Token> installHandler(std::function<void(std::optional<HotKeyID>)> fn) override {
    onPressed = std::move(fn);
    return ++handlers;
  }
  void removeHandler(Token) override { --handlers; }
  std::optional<Token> registerHotKey(HotKeyCombination combination, HotKeyID) override {
    if (refuseNapKey && combination.letter == 'N') return std::nullopt;
    registered[next_] = combination.letter;
    return next_++;
  }
  void unregisterHotKey(Token token) override { registered.erase(token); }
  void setBindingObserver(std::function<void(HotKeyID, HotKeyBinding)> o) override { observer = std::move(o); }
  bool bindsLater() const override { return later; }
  bool pressesOnMainThread() const override { return mainThread; }
  void answer(std::uint32_t id, HotKeyBinding::State state, std::string trigger = {}) {
    observer(HotKeyID{0x54564D49u, id}, {state, std::move(trigger)});
  }
  void press(std::uint32_t id) { onPressed(HotKeyID{0x54564D49u, id}); }

 private:
  Token next_ = 1;
};

class HotKeyManagerTest : public ::testing::Test {
 protected:
  testing::VirtualDispatcher dispatcher;
  FakeHotKeys platform;
  std::shared_ptr<HotKeyManager> manager = std::make_shared<HotKeyManager>(platform, dispatcher.mainQueue());
};

TEST_F(HotKeyManagerTest, DeliversEachKeyOnTheMainThreadToItsCurrentHandlerUntilUnregistered) {
  int naps = 0, islands = 0;
  manager->handler = [&] { ++naps; };
  manager->islandHandler = [&] { ++islands; };
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
  platform.mainThread = true;  // handled at once, by a handler that may replace itself meanwhile
  manager->handler = [&] {
    manager->handler = nullptr;
    naps += 100;
  };
  platform.press(1);
  platform.press(1);
  EXPECT_EQ(naps, 112);
  manager->handler = [&] { ++naps; };

  auto onPressed = platform.onPressed;
  manager->unregisterKeys();
  EXPECT_TRUE(platform.registered.empty());
  EXPECT_EQ(platform.handlers, 0);
  manager.reset();
  onPressed(HotKeyID{0, 1});  // a press after destruction is ignored
  dispatcher.runUntilIdle();
  EXPECT_EQ(naps, 112);
}

TEST_F(HotKeyManagerTest, ReportsWhatTheDesktopBoundAndTellsObserversOnTheMainQueue) {
  using State = HotKeyBinding::State;
  HotKeyManagerControl control(manager);
  int changes = 0;
  const int token = control.addBindingObserver([&] { ++changes; });

  platform.refuseNapKey = true;  // an X11 grab held elsewhere: nothing stays registered
  control.registerKeys();
  EXPECT_EQ(control.napKeyBinding().state, State::taken);
  EXPECT_FALSE(control.napKeyRegistered());
  EXPECT_EQ(platform.handlers, 0);
  dispatcher.runUntilIdle();
  EXPECT_EQ(changes, 1);

  control.unregisterKeys();
  platform.refuseNapKey = false;
  platform.later = true;
  control.registerKeys();
  EXPECT_EQ(control.napKeyBinding().state, State::pending);
  EXPECT_TRUE(control.napKeyRegistered());           // the tour waits for the answer
  platform.answer(1, State::bound, "Ctrl+Shift+N");  // the user chose other keys
  platform.answer(2, State::refused);
  platform.answer(2, State::refused);                      // no change, no news
  platform.observer(HotKeyID{0, 2}, {State::bound, "X"});  // not ours
  EXPECT_EQ(control.islandKeyBinding().state, State::refused);
  EXPECT_EQ(control.napKeyBinding().trigger, "Ctrl+Shift+N");
  dispatcher.runUntilIdle();
  EXPECT_EQ(changes, 4);
  platform.answer(1, State::noKeys);
  EXPECT_FALSE(control.napKeyRegistered());
  control.removeBindingObserver(token);
  dispatcher.runUntilIdle();
  EXPECT_EQ(changes, 4);
}

TEST(HotKeyTexts, NameTheBoundKeysOrSayWhyThereAreNone) {
  using State = HotKeyBinding::State;
  EXPECT_EQ(hotKeyRowText({State::bound, "Meta+N"}, "Ctrl+Alt+N"), "Meta+N");  // the keys the desktop chose
  for (const State state : {State::bound, State::pending, State::taken, State::refused, State::noKeys, State::unnamed}) {
    const HotKeyBinding binding{state, ""};
    const std::string problem = hotKeyProblem(binding, "Ctrl+Alt+N"), row = hotKeyRowText(binding, "Ctrl+Alt+N");
    EXPECT_EQ(hotKeyKeys(binding, "Ctrl+Alt+N"), "Ctrl+Alt+N");
    EXPECT_EQ(problem.empty(), state != State::taken && state != State::refused && state != State::noKeys) << problem;
    EXPECT_EQ(row == "Ctrl+Alt+N", state == State::bound) << row;  // never names keys that do nothing
  }
}

}  // namespace
}  // namespace tovami
