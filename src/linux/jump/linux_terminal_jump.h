// The terminal jump on Linux: tmux, kitty and WezTerm first, then EWMH window activation and the
// AT-SPI tree, Warp's palette typed through XTest. Also the two one-shot tools "--dump-ax" and
// "--warp-jump".
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "agents/terminal_jumper.h"
#include "linux/agents/process_runner.h"
#include "linux/jump/atspi_accessibility.h"
#include "linux/jump/ewmh_window_activation.h"
#include "linux/jump/proc_jump_environment.h"
#include "linux/jump/xtest_input.h"

namespace tovami::linux_backend {

class LinuxTerminalJump {
 public:
  explicit LinuxTerminalJump(Dispatcher& dispatcher);
  ~LinuxTerminalJump();
  LinuxTerminalJump(const LinuxTerminalJump&) = delete;
  LinuxTerminalJump& operator=(const LinuxTerminalJump&) = delete;
  TerminalJumper& jumper() { return *jumper_; }
  EwmhWindowActivation& windows() { return windows_; }

 private:
  PosixProcessLauncher launcher_;
  ProcJumpEnvironment environment_;
  EwmhWindowActivation windows_;
  AtspiAccessibility accessibility_;
  XTestInput input_;
  std::shared_ptr<TerminalJumper> jumper_;
};

// "--dump-ax APPNAME": prints the tree of the named application; the exit status (0).
int dumpAxTool(const std::string& appName);

// "--warp-jump TEXT": with no Warp window, prints "Warp not running" and calls `exit(1)` at once.
// Otherwise activates Warp, runs its palette chain 0.3 s later and calls `exit(0)` 2.5 s after
// the activation.
void warpJumpTool(const std::string& query, LinuxTerminalJump& jump, Dispatcher& dispatcher,
                  std::function<void(int)> exit);

}  // namespace tovami::linux_backend
