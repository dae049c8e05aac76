// Fakes of the platform's nap-related interfaces, recording what the logic asks of them.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "nap/nap_island_link.h"
#include "nap/nap_overlay_hints.h"
#include "platform/authentication.h"
#include "platform/hot_keys.h"
#include "platform/input.h"
#include "platform/nap_windows.h"
#include "platform/power.h"

namespace tovami::testing {

class FakeNapWindow final : public NapWindow {
 public:
  FakeNapWindow(Rect frame, std::vector<FakeNapWindow*>& open, int& madeKey)
      : frame_(frame), open_(open), madeKey_(madeKey) {
    open_.push_back(this);
  }
  ~FakeNapWindow() override { close(); }
  Rect frame() const override { return frame_; }
  void setLevel(NapWindowLevel level) override { level_ = level; }
  void orderFrontRegardless() override {}
  void makeKeyAndOrderFront() override { ++madeKey_; }
  void close() override { std::erase(open_, this); }
  NapWindowLevel level() const { return level_; }

 private:
  Rect frame_;
  std::vector<FakeNapWindow*>& open_;
  int& madeKey_;
  NapWindowLevel level_ = NapWindowLevel::screenSaver;
};

class FakeWindowSystem final : public NapWindowSystem {
 public:
  std::vector<ScreenInfo> displays{ScreenInfo{Rect{0, 0, 1280, 800}}};
  std::vector<FakeNapWindow*> open;  // windows made and not yet closed
  int created = 0, madeKey = 0;

  std::vector<ScreenInfo> screens() const override { return displays; }
  std::unique_ptr<NapWindow> makeBlackoutWindow(const ScreenInfo& screen) override {
    ++created;
    return std::make_unique<FakeNapWindow>(screen.frame, open, madeKey);
  }
  void activateIgnoringOtherApps() override {}
};

class FakeInput final : public InputMonitoring {
 public:
  int hideCount = 0;  // net hides: 0 means the pointer shows
  int resignObservers() const { return int(resign_.size()); }
  int monitorCount() const { return int(monitors_.size()); }

  Token addLocalMonitor(unsigned mask, Handler handler) override {
    monitors_[next_] = {mask, std::move(handler)};
    return next_++;
  }
  void removeMonitor(Token token) override { monitors_.erase(token); }
  Token addResignActiveObserver(std::function<void()> observer) override {
    resign_[next_] = std::move(observer);
    return next_++;
  }
  void removeResignActiveObserver(Token token) override { resign_.erase(token); }
  void hideCursor() override { ++hideCount; }
  void unhideCursor() override { --hideCount; }

  // Delivers an event as the platform would; true when a monitor swallowed it.
  bool send(InputEvent event) {
    const unsigned bit = event.type == InputEventType::keyDown     ? input_mask::kKeyDown
                         : event.type == InputEventType::mouseDown ? input_mask::kMouseDown
                                                                   : input_mask::kMouseMoved;
    bool swallowed = false;
    for (auto& [token, monitor] : std::map(monitors_))
      if (monitor.first & bit) swallowed = monitor.second(event) || swallowed;
    return swallowed;
  }
  bool key(InputKey key, bool repeat = false) { return send({InputEventType::keyDown, key, repeat}); }
  bool click() { return send({InputEventType::mouseDown}); }
  bool move() { return send({InputEventType::mouseMoved}); }
  void resignActive() {
    for (auto& [token, observer] : std::map(resign_)) observer();
  }

 private:
  std::map<Token, std::pair<unsigned, Handler>> monitors_;
  std::map<Token, std::function<void()>> resign_;
  Token next_ = 1;
};

class FakeAuthContext final : public AuthenticationContext {
 public:
  bool able = true;
  std::function<void(bool)> reply;
  std::string reason;
  int invalidations = 0;

  bool canEvaluateOwnerAuthentication() override { return able; }
  void evaluateOwnerAuthentication(const std::string& why, std::function<void(bool)> r) override {
    reason = why;
    reply = std::move(r);
  }
  // Like the platform: invalidating an open prompt makes it answer with failure.
  void invalidate() override {
    ++invalidations;
    answer(false);
  }
  void answer(bool success) {
    if (auto r = std::exchange(reply, nullptr)) r(success);
  }
};

class FakeAuthenticator final : public Authenticator {
 public:
  bool able = true;
  std::vector<std::shared_ptr<FakeAuthContext>> made;
  std::shared_ptr<AuthenticationContext> makeContext() override {
    made.push_back(std::make_shared<FakeAuthContext>());
    made.back()->able = able;
    return made.back();
  }
  FakeAuthContext& last() { return *made.back(); }
};

class FakePower final : public PowerManagement {
 public:
  bool failDisplay = false, failSystem = false;
  std::map<PowerAssertionID, std::string> names;  // every assertion ever taken
  std::set<PowerAssertionID> held;
  int activityDeclarations = 0;

  bool createAssertion(PowerAssertionType type, const std::string& name, PowerAssertionID& id) override {
    if ((type == PowerAssertionType::preventUserIdleDisplaySleep && failDisplay) ||
        (type == PowerAssertionType::preventUserIdleSystemSleep && failSystem))
      return false;
    id = hold(name);
    return true;
  }
  bool declareUserActivity(const std::string& name, PowerAssertionID& id) override {
    ++activityDeclarations;
    if (id == 0) id = hold(name);
    return true;
  }
  void releaseAssertion(PowerAssertionID id) override { held.erase(id); }
  int heldFor(const std::string& name) const {
    return int(std::count_if(held.begin(), held.end(), [&](auto id) { return names.at(id) == name; }));
  }

 private:
  PowerAssertionID hold(const std::string& name) {
    held.insert(next_);
    names[next_] = name;
    return next_++;
  }
  PowerAssertionID next_ = 1;
};

class RecordingIsland final : public NapIslandLink {
 public:
  std::vector<std::pair<bool, std::optional<NapReport>>> calls;
  std::optional<Seconds> deadline;
  void setNapping(bool napping, std::optional<NapReport> report) override {
    calls.emplace_back(napping, report);
  }
  void setNapTimerDeadline(std::optional<Seconds> d) override { deadline = d; }
};

class CountingHints final : public NapOverlayHints {
 public:
  int resets = 0, hints = 0;
  void reset() override { ++resets; }
  void showHint() override { ++hints; }
};

}  // namespace tovami::testing
