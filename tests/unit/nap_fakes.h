// Fakes of the platform's nap-related interfaces, recording what the logic asks of them.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "nap/nap_island_link.h"
#include "nap/nap_overlay_hints.h"
#include "platform/authentication.h"
#include "platform/input.h"
#include "platform/nap_windows.h"
#include "platform/power.h"

namespace tovami::testing {

class FakeWindowSystem final : public NapWindowSystem {
 public:
  struct Window final : NapWindow {
    Window(Rect f, FakeWindowSystem& s) : frameRect(f), system(s) { system.open.push_back(this); }
    ~Window() override { close(); }
    Rect frame() const override { return frameRect; }
    void setLevel(NapWindowLevel value) override { level = value; }
    void orderFrontRegardless() override {}
    void makeKeyAndOrderFront() override { ++system.madeKey; }
    void close() override { std::erase(system.open, this); }
    Rect frameRect;
    FakeWindowSystem& system;
    NapWindowLevel level = NapWindowLevel::screenSaver;
  };

  std::vector<ScreenInfo> displays{ScreenInfo{Rect{0, 0, 1280, 800}}};
  std::vector<Window*> open;  // windows made and not yet closed
  int created = 0, madeKey = 0;

  std::vector<ScreenInfo> screens() const override { return displays; }
  std::unique_ptr<NapWindow> makeBlackoutWindow(const ScreenInfo& screen) override {
    ++created;
    return std::make_unique<Window>(screen.frame, *this);
  }
  void activateIgnoringOtherApps() override {}
};

class FakeInput final : public InputMonitoring {
 public:
  int hideCount = 0;     // net hides: 0 means the pointer shows
  bool keyboard = true;  // whether the keyboard is ours
  bool canHold = true;   // false: a Wayland session, where the grab reaches X11 windows only
  std::map<Token, std::pair<unsigned, Handler>> monitors;
  std::map<Token, std::function<void()>> resign;

  Token addLocalMonitor(unsigned mask, Handler handler) override {
    monitors[next_] = {mask, std::move(handler)};
    return next_++;
  }
  void removeMonitor(Token token) override { monitors.erase(token); }
  Token addResignActiveObserver(std::function<void()> observer) override {
    resign[next_] = std::move(observer);
    return next_++;
  }
  void removeResignActiveObserver(Token token) override { resign.erase(token); }
  void hideCursor() override { ++hideCount; }
  void unhideCursor() override { --hideCount; }
  bool holdsKeyboard() const override { return keyboard; }
  bool canHoldKeyboard() const override { return canHold; }

  // Delivers an event as the platform would; true when a monitor swallowed it.
  bool send(InputEvent event) {
    const unsigned bit = 1u << unsigned(event.type);  // keyDown, mouseDown, mouseMoved in mask order
    bool swallowed = false;
    for (auto& [token, monitor] : std::map(monitors))
      if (monitor.first & bit) swallowed = monitor.second(event) || swallowed;
    return swallowed;
  }
  bool key(InputKey key, bool repeat = false) { return send({InputEventType::keyDown, key, repeat}); }
  bool click() { return send({InputEventType::mouseDown}); }
  bool move() { return send({InputEventType::mouseMoved}); }
  void resignActive() {
    for (auto& [token, observer] : std::map(resign)) observer();
  }

 private:
  Token next_ = 1;
};

class FakeAuthenticator final : public Authenticator {
 public:
  struct Context final : AuthenticationContext {
    bool able = true;
    std::function<void(AuthOutcome)> reply;
    int invalidations = 0;
    bool canEvaluateOwnerAuthentication() override { return able; }
    void evaluateOwnerAuthentication(const std::string&, std::function<void(AuthOutcome)> r) override {
      reply = std::move(r);
    }
    // Like the platform: invalidating an open prompt makes it answer with failure.
    void invalidate() override { ++invalidations, answer(false); }
    void answer(bool success) { answer(success ? AuthOutcome::succeeded : AuthOutcome::refused); }
    void answer(AuthOutcome outcome) {
      if (auto r = std::exchange(reply, nullptr)) r(outcome);
    }
  };

  bool able = true;
  std::vector<std::shared_ptr<Context>> made;
  std::shared_ptr<AuthenticationContext> makeContext() override {
    made.push_back(std::make_shared<Context>());
    made.back()->able = able;
    return made.back();
  }
  Context& last() { return *made.back(); }
};

class FakePower final : public PowerManagement {
 public:
  bool fail = false;                             // display and system assertions are refused
  std::map<PowerAssertionID, std::string> held;  // by the reason given
  int activityDeclarations = 0;

  bool createAssertion(PowerAssertionType, const std::string& name, PowerAssertionID& id) override {
    return !fail && (id = hold(name)) != 0;
  }
  bool declareUserActivity(const std::string& name, PowerAssertionID& id) override {
    ++activityDeclarations;
    if (id == 0) id = hold(name);
    return true;
  }
  void releaseAssertion(PowerAssertionID id) override { held.erase(id); }
  int heldFor(const std::string& name) const {
    return int(std::count_if(held.begin(), held.end(), [&](const auto& entry) { return entry.second == name; }));
  }

 private:
  PowerAssertionID hold(const std::string& name) { return held.emplace(next_++, name).first->first; }
  PowerAssertionID next_ = 1;
};

class RecordingIsland final : public NapIslandLink {
 public:
  std::vector<std::pair<bool, std::optional<NapReport>>> calls;
  std::optional<Seconds> deadline;
  void setNapping(bool napping, std::optional<NapReport> report) override { calls.emplace_back(napping, report); }
  void setNapTimerDeadline(std::optional<Seconds> d) override { deadline = d; }
};

class CountingHints final : public NapOverlayHints {
 public:
  int resets = 0, hints = 0;
  std::vector<std::string> notices;
  void reset() override { ++resets; }
  void showHint() override { ++hints; }
  void showNotice(const std::string& text) override { notices.push_back(text); }
};

}  // namespace tovami::testing
