// The terminal jump: brings the exact terminal tab, window or tmux pane of an agent forward.
// Strategies, in order: a script that selects the tab by its tty (Terminal, iTerm2), the
// tty-precise strategies (tmux, kitty, WezTerm), then the terminal's windows and accessibility
// tree (the window or tab whose title mentions the project), and for Warp its navigation palette.
//
// Every step may wait on another process (tools, the window manager, the accessibility bus), so
// the work runs on its own serial queue; `jump` only hands it over and returns.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "agents/terminal_jump.h"
#include "agents/tty_jumps.h"
#include "platform/accessibility.h"
#include "platform/delayed_work.h"
#include "platform/scheduler.h"
#include "platform/window_activation.h"

namespace tovami {

inline constexpr size_t kWarpQueryCharacters = 28;
inline constexpr Seconds kWarpChainDelay = 0.25;   // after the window pass failed
inline constexpr Seconds kWarpMenuDelay = 0.15;    // Escape -> View > Navigation Palette
inline constexpr Seconds kWarpTypeDelay = 0.35;    // -> typing the query
inline constexpr Seconds kWarpReturnDelay = 0.45;  // -> Return

// The palette query: the first 28 characters of the transcript title, else of the project name.
std::string warpQuery(const AgentSession& session);

struct TerminalJumperDependencies {
  Dispatcher& dispatcher;
  WindowActivation& windows;
  Accessibility& accessibility;
  SyntheticInput& input;
  ScriptRunner* scripts = nullptr;  // none on this platform: the script strategy falls through
  std::vector<std::shared_ptr<TtyJump>> ttyJumps;
};

class TerminalJumper final : public TerminalJump, public std::enable_shared_from_this<TerminalJumper> {
 public:
  // How one jump ended, for the log and for tests.
  enum class Outcome { script, ttyPrecise, window, applicationOnly, warpPalette, nothing };
  using Observer = std::function<void(int32_t agentPid, Outcome outcome)>;

  explicit TerminalJumper(TerminalJumperDependencies dependencies);

  // Main thread: hands the jump to the jump queue.
  void jump(const AgentSession& session) override;
  // On the jump queue (or a one-shot tool): runs the strategies in order.
  Outcome jumpNow(const AgentSession& session);
  // The Warp palette chain for the application `pid` (on the jump queue).
  void warpJump(int32_t pid, const std::string& query);

  // Before the services it uses go away: waits for a running jump to end, cancels the Warp
  // steps still due and ignores later requests. Not on the jump queue itself.
  void shutDown();

  void setObserver(Observer observer) { observer_ = std::move(observer); }
  TaskQueue& queue() { return *queue_; }

 private:
  bool inFront(int32_t pid, const char* step);

  TerminalJumperDependencies deps_;
  std::shared_ptr<TaskQueue> queue_;
  DelayedWork warpStep_;
  Observer observer_;
  std::atomic<bool> stopped_{false};
};

}  // namespace tovami
